#!/usr/bin/python3
"""Occurrence fidelity: does every occurrence a calendar file describes land in the store, at the
instant the file means, and nothing more?

Both sides are worked out here, apart from the importer:
  the file:  bench/expand_occurrences.c expands each event series with libical (RRULE, RDATE,
             EXDATE, RECURRENCE-ID overrides) to the UTC instants its occurrences begin;
  the store: cal2pst imports the same files; pypff reads the store back, and this script decodes
             each appointment's PidLidAppointmentRecur (MS-OXOCAL 2.2.1.44) and its time zone
             (PidLidAppointmentTimeZoneDefinitionRecur 2.2.1.41, else PidLidTimeZoneStruct
             2.2.1.39) and expands the pattern to UTC instants in the same way.
Occurrences are compared within WINDOW days of each series' first start, once a run for each TZ
the import is run under (floating times of the file are read in that zone too).

  bench/occurrences.py [--corpus DIR] [--examples] [--cal2pst PATH] [--tz LIST] [--limit N]
                       [--json OUT] [--worst N] [--show TEXT]
Run it with Debian's /usr/bin/python3 (pypff). Prints tables; asserts nothing.

Notes in the worst-series table: from the file side, dtstart-not-in-rule (the rule does not
produce DTSTART, which still counts as the first occurrence), count-includes-dtstart, rdate, exdate,
exdate-matches-nothing, override, override-matches-nothing, override-cancelled,
override-without-series, tzid-by-name / tzid-windows / tzid-unknown (how a TZID without VTIMEZONE
was resolved), rrule-subdaily, libical-error (libical flagged part of the event as malformed);
from the store side, store-exceptions, store-deleted, store-startwhole-not-first (the pattern's
first occurrence is not PidLidAppointmentStartWhole), store-firstdatetime-inconsistent,
store-enddate-not-last, store-zones-disagree (PidLidTimeZoneStruct and the definition differ);
not-in-store / not-in-file for series matched to nothing."""
import argparse
import collections
import datetime
import json
import os
import struct
import subprocess
import sys
import time
import uuid

try:
    import pypff
except ImportError:
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    sys.exit("occurrences.py needs pypff (Debian: python3-pypff) under /usr/bin/python3")

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# ------------------------------------------------------------------------------------------------
# The file side

def build_expander(work):
    exe = os.path.join(work, "expand_occurrences")
    src = os.path.join(HERE, "expand_occurrences.c")
    if os.path.exists(exe) and os.path.getmtime(exe) >= os.path.getmtime(src):
        return exe
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "libical"], check=True,
                           capture_output=True, text=True).stdout.split()
    subprocess.run(["cc", "-O2", "-Wall", "-Wextra", "-o", exe, src] + flags + ["-licalvcal"], check=True)
    return exe


def expand_files(exe, files, tz, window_days):
    """{path: {"format", "error", "series"}} from libical, with TZ as given."""
    env = dict(os.environ, TZ=tz)
    base = [exe, "--window-days", str(window_days)]
    out = {}

    def take(text):
        for line in text.splitlines():
            if line.strip():
                d = json.loads(line)
                out[d["file"]] = d

    try:
        r = subprocess.run(base + files, env=env, capture_output=True, timeout=600)
        take(r.stdout.decode("utf-8", "replace"))
    except subprocess.TimeoutExpired:
        pass
    for f in files:  # one at a time where the batch stopped short (a crash, or a loop)
        if f in out:
            continue
        try:
            r = subprocess.run(base + [f], env=env, capture_output=True, timeout=30)
            take(r.stdout.decode("utf-8", "replace"))
            if f not in out:
                out[f] = {"file": f, "error": "libical stopped (status %d)" % r.returncode, "series": []}
        except subprocess.TimeoutExpired:
            out[f] = {"file": f, "error": "libical took over 30 s", "series": []}
    return out

# ------------------------------------------------------------------------------------------------
# The store side: named properties

PS_MAPI = uuid.UUID("00020328-0000-0000-C000-000000000046")
PS_PUBLIC_STRINGS = uuid.UUID("00020329-0000-0000-C000-000000000046")
PSETID_APPOINTMENT = uuid.UUID("00062002-0000-0000-C000-000000000046")
PSETID_MEETING = uuid.UUID("6ED8DA90-450B-101B-98DA-00AA003F1305")

LID_START_WHOLE = 0x820D
LID_END_WHOLE = 0x820E
LID_SUB_TYPE = 0x8215
LID_RECUR = 0x8216
LID_RECURRING = 0x8223
LID_TZ_STRUCT = 0x8233
LID_TZ_DEF_RECUR = 0x8260
LID_GLOBAL_OBJECT_ID = 0x0003


def named_ids(pst):
    """(property set, LID) -> property id, from the name-to-id map (MS-PST 2.4.7): the GUID stream
    (0x0002) and the entry stream (0x0003) of eight-byte NAMEID records."""
    node = pst.get_name_to_id_map()
    props = {}
    for rs in node.record_sets:
        for e in rs.entries:
            props[e.entry_type] = e.data or b""
    guids, entries = props.get(0x0002, b""), props.get(0x0003, b"")
    ids = {}
    for i in range(0, len(entries) - 7, 8):
        dw, guid_field, index = struct.unpack_from("<IHH", entries, i)
        if guid_field & 1:  # named by string
            continue
        g = guid_field >> 1
        if g == 1:
            guid = PS_MAPI
        elif g == 2:
            guid = PS_PUBLIC_STRINGS
        else:
            raw = guids[(g - 3) * 16:(g - 2) * 16]
            if len(raw) != 16:
                continue
            guid = uuid.UUID(bytes_le=raw)
        ids[(guid, dw)] = 0x8000 + index
    return ids


def filetime_epoch(data):
    if not data or len(data) < 8:
        return None
    return struct.unpack("<Q", data[:8])[0] // 10_000_000 - 11644473600


def goid_uid(data):
    """The UID a PidLidGlobalObjectId carries: the text after "vCal-Uid" and its version, or
    else the whole id in hex as Outlook writes it into UID lines (MS-OXCICAL 2.1.3.1.1.20.26)."""
    if not data or len(data) < 40:
        return None
    size = struct.unpack_from("<I", data, 36)[0]
    payload = data[40:40 + size]
    if payload.startswith(b"vCal-Uid") and len(payload) >= 12:
        text = payload[12:]
        if text.endswith(b"\0"):
            text = text[:-1]
        return text.decode("utf-8", "replace")
    zeroed = data[:16] + b"\0\0\0\0" + data[20:]
    return zeroed.hex().upper()

# ------------------------------------------------------------------------------------------------
# The store side: time zones (MS-OXOCAL 2.2.1.39 TZSTRUCT, 2.2.1.41 TZDEFINITION / TZRULE)

EPOCH_1601_MINUTES = 11644473600 // 60
BASE = datetime.datetime(1601, 1, 1)


def minutes_of(y, mo, d, h=0, mi=0):
    return int((datetime.datetime(y, mo, d, h, mi) - BASE).total_seconds() // 60)


def date_of(minutes):
    return BASE + datetime.timedelta(minutes=minutes)


def days_in_month(y, mo):
    return (datetime.date(y + (mo == 12), mo % 12 + 1, 1) - datetime.date(y, mo, 1)).days


def dow_sun0(minutes):
    """Day of the week, Sunday 0; 1 January 1601 was a Monday."""
    return (minutes // 1440 + 1) % 7


class TzRule:
    def __init__(self, year, bias, std_bias, dst_bias, std_date, dst_date):
        self.year, self.bias, self.std_bias, self.dst_bias = year, bias, std_bias, dst_bias
        self.std_date, self.dst_date = std_date, dst_date  # SYSTEMTIME tuples of 8

    def transition(self, year, st):
        w_year, month, dow, day, hour, minute = st[:6]
        if w_year:  # an absolute date
            return minutes_of(w_year if w_year == year else year, month, min(day, days_in_month(year, month)), hour, minute)
        first = (datetime.date(year, month, 1).weekday() + 1) % 7
        d = 1 + (dow - first) % 7 + (day - 1) * 7
        while d > days_in_month(year, month):
            d -= 7
        return minutes_of(year, month, d, hour, minute)

    def utc_minutes(self, local):
        year = date_of(local).year
        bias = self.bias
        if self.dst_date[1] and self.std_date[1]:
            dst = self.transition(year, self.dst_date)  # in standard time
            std = self.transition(year, self.std_date)  # in daylight time
            in_dst = (dst <= local < std) if dst < std else not (std <= local < dst)
            bias += self.dst_bias if in_dst else self.std_bias
        else:
            bias += self.std_bias
        return local + bias


class TimeZone:
    def __init__(self, rules, source):
        self.rules = sorted(rules, key=lambda r: r.year)
        self.source = source

    def rule_for(self, local):
        year = date_of(local).year
        chosen = self.rules[0]
        for r in self.rules:
            if r.year <= year:
                chosen = r
        return chosen

    def to_epoch(self, local_minutes):
        return (self.rule_for(local_minutes).utc_minutes(local_minutes) - EPOCH_1601_MINUTES) * 60


def parse_tzstruct(data):
    if not data or len(data) < 48:
        return None
    # lBias, lStandardBias, lDaylightBias, wStandardYear, stStandardDate, wDaylightYear, stDaylightDate
    bias, std_bias, dst_bias = struct.unpack_from("<iii", data, 0)
    std_date = struct.unpack_from("<8H", data, 14)
    dst_date = struct.unpack_from("<8H", data, 32)
    return TimeZone([TzRule(0, bias, std_bias, dst_bias, std_date, dst_date)], "TimeZoneStruct")


def parse_tzdefinition(data):
    if not data or len(data) < 6:
        return None
    major, minor, cb_header = struct.unpack_from("<BBH", data, 0)
    pos = 4 + cb_header
    if pos - 2 > len(data) or cb_header < 6:
        return None
    count = struct.unpack_from("<H", data, pos - 2)[0]
    rules = []
    for _ in range(count):
        if pos + 66 > len(data):
            return None
        r_major, r_minor, reserved, flags, year = struct.unpack_from("<BBHHH", data, pos)
        bias, std_bias, dst_bias = struct.unpack_from("<iii", data, pos + 22)
        std_date = struct.unpack_from("<8H", data, pos + 34)
        dst_date = struct.unpack_from("<8H", data, pos + 50)
        rules.append(TzRule(year, bias, std_bias, dst_bias, std_date, dst_date))
        pos += 66
    return TimeZone(rules, "TimeZoneDefinitionRecur") if rules else None

# ------------------------------------------------------------------------------------------------
# The store side: the recurrence blob (MS-OXOCAL 2.2.1.44)

FREQ = {0x200A: "daily", 0x200B: "weekly", 0x200C: "monthly", 0x200D: "yearly"}
PATTERN = {0: "day", 1: "week", 2: "month", 3: "monthnth", 4: "monthend",
           0xA: "hjmonth", 0xB: "hjmonthnth", 0xC: "hjmonthend"}
END_AFTER_DATE, END_AFTER_COUNT, END_NEVER, END_NEVER_OLD = 0x2021, 0x2022, 0x2023, 0xFFFFFFFF
NO_END_DATE = 0x5AE980DF


class Reader:
    def __init__(self, data):
        self.d, self.p = data, 0

    def take(self, fmt):
        v = struct.unpack_from("<" + fmt, self.d, self.p)
        self.p += struct.calcsize("<" + fmt)
        return v if len(v) > 1 else v[0]

    def skip(self, n):
        if self.p + n > len(self.d):
            raise struct.error("past the end")
        self.p += n


def parse_recur(data):
    r = Reader(data)
    p = {}
    p["reader_version"], p["writer_version"] = r.take("HH")
    p["frequency"], p["pattern_type"], p["calendar_type"] = r.take("HHH")
    p["first_date_time"], p["period"], p["sliding"] = r.take("III")
    pt = p["pattern_type"]
    if pt == 1:
        p["days"] = r.take("I")
    elif pt in (2, 4, 0xA, 0xC):
        p["day"] = r.take("I")
    elif pt in (3, 0xB):
        p["days"], p["nth"] = r.take("II")
    p["end_type"], p["count"], p["first_dow"] = r.take("III")
    n = r.take("I")
    p["deleted"] = [r.take("I") for _ in range(n)]
    n = r.take("I")
    p["modified"] = [r.take("I") for _ in range(n)]
    p["start_date"], p["end_date"] = r.take("II")
    p["reader_version2"], p["writer_version2"] = r.take("II")
    p["start_offset"], p["end_offset"] = r.take("II")
    n = r.take("H")
    exceptions = []
    for _ in range(n):
        e = {}
        e["start"], e["end"], e["original"] = r.take("III")
        flags = e["flags"] = r.take("H")
        if flags & 0x0001:  # ARO_SUBJECT
            r.take("H")
            r.skip(r.take("H"))
        if flags & 0x0002:  # ARO_MEETINGTYPE
            r.take("I")
        if flags & 0x0004:  # ARO_REMINDERDELTA
            r.take("I")
        if flags & 0x0008:  # ARO_REMINDER
            r.take("I")
        if flags & 0x0010:  # ARO_LOCATION
            r.take("H")
            r.skip(r.take("H"))
        if flags & 0x0020:  # ARO_BUSYSTATUS
            r.take("I")
        if flags & 0x0040:  # ARO_ATTACHMENT
            r.take("I")
        if flags & 0x0080:  # ARO_SUBTYPE
            r.take("I")
        if flags & 0x0100:  # ARO_APPTCOLOR
            r.take("I")
        exceptions.append(e)
    p["exceptions"] = exceptions
    return p


def expected_first_date_time(p):
    """FirstDateTime as MS-OXOCAL 2.2.1.44.1.1 computes it from StartDate, Period and FirstDOW."""
    start = p["start_date"]
    pt = p["pattern_type"]
    if pt == 0:
        return start % p["period"] if p["period"] else None
    if pt == 1:
        week = start - ((dow_sun0(start) - p["first_dow"]) % 7) * 1440
        return week % (p["period"] * 10080) if p["period"] else None
    if pt in (2, 3, 4):
        d = date_of(start)
        months = ((d.year - 1601) * 12 + d.month - 1) % p["period"] if p["period"] else 0
        return minutes_of(1601 + months // 12, months % 12 + 1, 1)
    return None


def pattern_dates(p, notes):
    """Dates (minutes at local midnight) the pattern gives, in order, from StartDate on, in the
    valid days, weeks or months that MS-OXOCAL 2.2.1.44.1.2 derives from FirstDateTime."""
    start, pt, period, first = p["start_date"], p["pattern_type"], p["period"], p["first_date_time"]
    if p["calendar_type"] not in (0, 1) or pt >= 0xA:
        notes.add("store-calendar-type-unsupported")
    if pt == 0:
        if period <= 0:
            notes.add("store-period-zero")
            yield start
            return
        d = start + (first - start) % period
        while True:
            yield d
            d += period
    elif pt == 1:
        if period <= 0:
            notes.add("store-period-zero")
            yield start
            return
        span = period * 10080
        week = start - ((dow_sun0(start) - p["first_dow"]) % 7) * 1440
        week += (first - week) % span  # the first valid week at or after that of StartDate
        while True:
            for i in range(7):
                d = week + i * 1440
                if d >= start and p["days"] >> dow_sun0(d) & 1:
                    yield d
            week += span
            if p["days"] & 0x7F == 0:
                notes.add("store-no-weekdays")
                return
    elif pt in (2, 3, 4, 0xA, 0xB, 0xC):
        if period <= 0:
            notes.add("store-period-zero")
            yield start
            return
        f = date_of(first)
        first_month = (f.year - 1601) * 12 + f.month - 1
        s = date_of(start)
        month = (s.year - 1601) * 12 + s.month - 1
        month += (first_month - month) % period
        while month < 12 * 8000:
            y, mo = 1601 + month // 12, month % 12 + 1
            dim = days_in_month(y, mo)
            days = []
            if pt in (2, 0xA):
                days = [min(p["day"], dim)] if p["day"] else []
            elif pt in (4, 0xC):
                days = [dim]
            else:
                matching = [d for d in range(1, dim + 1) if p["days"] >> ((datetime.date(y, mo, d).weekday() + 1) % 7) & 1]
                if matching:
                    n = p["nth"]
                    days = [matching[-1]] if n == 5 else ([matching[n - 1]] if 1 <= n <= len(matching) else [])
            for d in days:
                m = minutes_of(y, mo, d)
                if m >= start:
                    yield m
            month += period
    else:
        notes.add("store-pattern-unknown")
        yield start


def expand_store(p, tz, window_start, window_end, notes):
    """[(start, original)] UTC instants of a stored series whose original start lies in the
    window, and the first pattern occurrence (before deletions)."""
    occ = []
    deleted = set(p["deleted"])
    offset = p["start_offset"]
    end_type = p["end_type"]
    produced = 0
    last = None
    first_instant = None
    for d in pattern_dates(p, notes):
        if end_type == END_AFTER_COUNT and produced >= p["count"]:
            break
        if end_type == END_AFTER_DATE and d > p["end_date"]:
            break
        produced += 1
        last = d
        e = tz.to_epoch(d + offset)
        if first_instant is None:
            first_instant = e
        if e >= window_end:
            break
        if d in deleted or e < window_start:
            continue
        occ.append((e, e))
    if end_type == END_AFTER_COUNT and produced == p["count"] and last is not None and last != p["end_date"]:
        notes.add("store-enddate-not-last")
    if end_type not in (END_AFTER_DATE, END_AFTER_COUNT, END_NEVER, END_NEVER_OLD):
        notes.add("store-endtype-unknown")
    originals = set()
    for x in p["exceptions"]:
        orig = tz.to_epoch(x["original"])
        originals.add(x["original"] - x["original"] % 1440)
        if x["original"] - x["original"] % 1440 not in deleted:
            notes.add("store-exception-not-deleted")
        if window_start <= orig < window_end:
            occ.append((tz.to_epoch(x["start"]), orig))
    modified = set(p["modified"])
    starts = set(x["start"] - x["start"] % 1440 for x in p["exceptions"])
    if modified != starts:
        notes.add("store-modified-dates-mismatch")
    if p["exceptions"]:
        notes.add("store-exceptions")
    if deleted - originals:
        notes.add("store-deleted")
    exp = expected_first_date_time(p)
    if exp is not None and exp != p["first_date_time"]:
        notes.add("store-firstdatetime-inconsistent")
    return sorted(occ), first_instant


def read_store(path):
    """[{folder, subject, uid, allday, start, recur, tz...}] for each appointment of the store."""
    pst = pypff.file()
    pst.open(path)
    ids = named_ids(pst)

    def pid(guid, lid):
        return ids.get((guid, lid))

    want = {
        "start": pid(PSETID_APPOINTMENT, LID_START_WHOLE),
        "subtype": pid(PSETID_APPOINTMENT, LID_SUB_TYPE),
        "recur": pid(PSETID_APPOINTMENT, LID_RECUR),
        "recurring": pid(PSETID_APPOINTMENT, LID_RECURRING),
        "tzstruct": pid(PSETID_APPOINTMENT, LID_TZ_STRUCT),
        "tzdef": pid(PSETID_APPOINTMENT, LID_TZ_DEF_RECUR),
        "goid": pid(PSETID_MEETING, LID_GLOBAL_OBJECT_ID),
    }
    appointments = []

    def walk(folder, names):
        for i in range(folder.number_of_sub_messages):
            m = folder.get_sub_message(i)
            props = {}
            for rs in m.record_sets:
                for e in rs.entries:
                    props.setdefault(e.entry_type, e.data)
            cls = props.get(0x001A) or b""
            cls = cls.decode("utf-16-le", "replace") if len(cls) % 2 == 0 and b"\0" in cls else cls.decode("latin-1")
            if not cls.rstrip("\0").lower().startswith("ipm.appointment"):
                continue
            a = {"folder": "/".join(names[1:]), "subject": m.subject or "", "node": m.identifier}
            for key, p in want.items():
                a[key] = props.get(p) if p is not None else None
            appointments.append(a)
        for j in range(folder.number_of_sub_folders):
            sub = folder.get_sub_folder(j)
            walk(sub, names + [sub.name or ""])

    walk(pst.root_folder, [])
    pst.close()
    return appointments


def store_series(a, window_days):
    """One stored appointment as a series: its UTC occurrences, from its own first start."""
    notes = set()
    start = filetime_epoch(a["start"])
    allday = bool(a["subtype"] and struct.unpack("<I", a["subtype"][:4].ljust(4, b"\0"))[0])
    uid = goid_uid(a["goid"])
    recurring = bool(a["recurring"] and a["recurring"][:1] not in (b"\0", b""))
    s = {"subject": a["subject"], "uid": uid, "allday": allday, "start": start, "folder": a["folder"],
         "node": a["node"], "pattern": None, "notes": notes}
    if a["recur"]:
        try:
            p = parse_recur(a["recur"])
        except struct.error:
            notes.add("store-recur-unreadable")
            p = None
        if p:
            tz = parse_tzdefinition(a["tzdef"]) or parse_tzstruct(a["tzstruct"])
            if not tz:
                notes.add("store-recur-without-zone")
                tz = TimeZone([TzRule(0, 0, 0, 0, (0,) * 8, (0,) * 8)], "none")
            if not recurring:
                notes.add("store-recur-but-not-recurring")
            s["pattern"] = "%s/%s every %d%s" % (FREQ.get(p["frequency"], hex(p["frequency"])),
                                                  PATTERN.get(p["pattern_type"], hex(p["pattern_type"])),
                                                  p["period"] // 1440 if p["pattern_type"] == 0 else p["period"],
                                                  {END_AFTER_DATE: " until", END_AFTER_COUNT: " x%d" % p["count"]}.get(p["end_type"], ""))
            s["recur"], s["tz"] = p, tz
            # the window begins at the series' start (the first pattern occurrence)
            first = tz.to_epoch(p["start_date"] + p["start_offset"])
            occ, pattern_first = expand_store(p, tz, first, first + window_days * 86400, notes)
            other = parse_tzstruct(a["tzstruct"])
            if other and tz.source != "TimeZoneStruct" and other.to_epoch(p["start_date"] + p["start_offset"]) != first:
                notes.add("store-zones-disagree")
            if start is not None and pattern_first is not None and start != pattern_first:
                notes.add("store-startwhole-not-first")
            s["occ"] = occ
            s["first"] = first
            return s
    elif recurring:
        notes.add("store-recurring-without-pattern")
    s["occ"] = [(start, start)] if start is not None else []
    s["first"] = start
    return s


def restrict(series, window_start, window_end):
    """The stored occurrences of a series, re-windowed to the series it was matched with, so that
    both sides count the same span; anything stored before that span counts as well."""
    p = series.get("recur")
    if not p:
        return [o for o in series["occ"]]
    notes = set()
    occ, _ = expand_store(p, series["tz"], min(window_start, series["first"]), window_end, notes)
    return occ

# ------------------------------------------------------------------------------------------------
# Import and match

def import_files(cal2pst, files, tz, work):
    out = os.path.join(work, "occurrences-%s.pst" % tz.replace("/", "-"))
    if os.path.exists(out):
        os.remove(out)
    r = subprocess.run([cal2pst, "-o", out] + files, env=dict(os.environ, TZ=tz), capture_output=True, text=True,
                       errors="replace")
    failed = {}
    for line in r.stdout.splitlines():
        if line.startswith("failed: "):
            rest = line[len("failed: "):]
            for f in files:
                if rest.startswith(f + ": "):
                    failed[f] = rest[len(f) + 2:]
    if r.returncode not in (0, 1) or not os.path.exists(out):
        sys.exit("cal2pst failed (status %d): %s" % (r.returncode, r.stderr[-2000:]))
    return out, failed


def norm(text):
    return " ".join((text or "").split()).casefold()


def match(truth, stored):
    """Pairs file series with stored appointments of the folder their file lies in: by UID,
    subject and first start; then UID and subject; UID; subject and start; subject."""
    by_folder = collections.defaultdict(list)
    for s in stored:
        by_folder[s["folder"]].append(s)
    for lst in by_folder.values():
        lst.sort(key=lambda s: s["node"])
    pairs, lone_truth = [], []
    truth_by_folder = collections.defaultdict(list)
    for t in truth:
        truth_by_folder[os.path.dirname(t["file"]).lstrip("/")].append(t)
    used = set()
    for folder, ts in truth_by_folder.items():
        cands = by_folder.get(folder, [])
        keys = [
            lambda x: (x["uid"], norm(x["summary"] if "summary" in x else x["subject"]), x["start"]),
            lambda x: (x["uid"], norm(x["summary"] if "summary" in x else x["subject"])),
            lambda x: (x["uid"],),
            lambda x: (norm(x["summary"] if "summary" in x else x["subject"]), x["start"]),
            lambda x: (norm(x["summary"] if "summary" in x else x["subject"]),),
        ]
        open_truth = list(ts)
        for key in keys:
            pool = collections.defaultdict(list)
            for s in cands:
                if id(s) not in used:
                    k = key(s)
                    if k[0] is not None:
                        pool[k].append(s)
            rest = []
            for t in open_truth:
                k = key(t)
                if k[0] is not None and pool.get(k):
                    s = pool[k].pop(0)
                    used.add(id(s))
                    pairs.append((t, s))
                else:
                    rest.append(t)
            open_truth = rest
        lone_truth.extend(open_truth)
    lone_store = [s for s in stored if id(s) not in used]
    return pairs, lone_truth, lone_store


def compare(expected, stored):
    """found, missing, invented, shifted (a missing and an invented one within 26 hours)."""
    e = collections.Counter(x[0] for x in expected)
    s = collections.Counter(x[0] for x in stored)
    found = sum((e & s).values())
    miss = sorted((e - s).elements())
    extra = sorted((s - e).elements())
    shifted = 0
    taken = [False] * len(extra)
    for m in miss:
        for k in range(len(extra)):
            if not taken[k] and abs(extra[k] - m) <= 26 * 3600:
                taken[k] = True
                shifted += 1
                break
    return found, len(miss), len(extra), shifted


def run(tz, files, args, exe):
    truth_files = expand_files(exe, files, tz, args.window_days)
    store_path, failed = import_files(args.cal2pst, files, tz, args.work)
    stored = [store_series(a, args.window_days) for a in read_store(store_path)]
    truth = []
    for f in files:
        d = truth_files.get(f, {"series": [], "error": "no output"})
        for i, s in enumerate(d["series"]):
            s = dict(s)
            s["file"] = f
            s["index"] = i
            s["occ"] = [tuple(o) for o in s["occ"]]
            truth.append(s)
    pairs, lone_truth, lone_store = match(truth, stored)
    # A series Outlook cannot hold as a pattern is stored as several appointments sharing its UID
    # (each with its instance date in the global object id): they join the series they belong to.
    def series_key(s):  # events without a UID are told apart by their subject
        return (s["folder"], s["uid"]) if s["uid"] else (s["folder"], None, norm(s["subject"]))

    # Files that repeat a UID (scheduling messages) have several series to a key: the
    # appointments left over go to them in turn, in store order.
    by_uid = collections.defaultdict(list)
    for k, (t, s) in enumerate(pairs):
        by_uid[series_key(s)].append(k)
    turn = collections.Counter()
    joined = collections.defaultdict(list)
    rest = []
    for s in sorted(lone_store, key=lambda x: x["node"]):
        ks = by_uid.get(series_key(s))
        if not ks:
            rest.append(s)
            continue
        key = series_key(s)
        joined[ks[turn[key] % len(ks)]].append(s)
        turn[key] += 1
    lone_store = rest
    rows = []
    for k, (t, s) in enumerate(pairs):
        window_end = t["start"] + args.window_days * 86400
        st = restrict(s, t["start"], window_end)
        for other in joined.get(k, []):
            st = st + [o for o in restrict(other, t["start"], window_end) if o[0] < window_end]
        found, miss, extra, shifted = compare(t["occ"], st)
        notes = sorted(set(n for n in t["notes"].split(",") if n) | s["notes"])
        if t["allday"] != s["allday"]:
            notes.append("allday-differs")
        rows.append({"file": t["file"], "subject": t["summary"], "uid": t["uid"], "expected": len(t["occ"]),
                     "stored": len(st), "found": found, "missing": miss, "invented": extra, "shifted": shifted,
                     "pattern": s["pattern"], "notes": notes, "truth": t, "store": s, "store_occ": st})
    for t in lone_truth:
        notes = sorted(n for n in t["notes"].split(",") if n) + ["not-in-store"]
        if t["file"] in failed:
            notes.append("file-failed: " + failed[t["file"]])
        rows.append({"file": t["file"], "subject": t["summary"], "uid": t["uid"], "expected": len(t["occ"]),
                     "stored": 0, "found": 0, "missing": len(t["occ"]), "invented": 0, "shifted": 0,
                     "pattern": None, "notes": notes, "truth": t, "store": None, "store_occ": []})
    # A folder holding a file libical could not read may hold that file's appointments: those
    # cannot be checked, and are counted apart rather than as invented.
    unreadable = set(os.path.dirname(f).lstrip("/") for f in files if truth_files.get(f, {}).get("error"))
    unverifiable = []
    for s in lone_store:
        if s["folder"] in unreadable:
            unverifiable.append(s)
            continue
        rows.append({"file": "(folder) " + s["folder"], "subject": s["subject"], "uid": s["uid"], "expected": 0,
                     "stored": len(s["occ"]), "found": 0, "missing": 0, "invented": len(s["occ"]), "shifted": 0,
                     "pattern": s["pattern"], "notes": sorted(s["notes"]) + ["not-in-file"], "truth": None,
                     "store": s, "store_occ": s["occ"]})
    summary = {
        "tz": tz,
        "files": len(files),
        "files_failed_import": len(failed),
        "files_failed_libical": sum(1 for d in truth_files.values() if d.get("error")),
        "series": len(truth),
        "appointments": len(stored),
        "matched": len(pairs),
        "expected": sum(r["expected"] for r in rows),
        "found": sum(r["found"] for r in rows),
        "missing": sum(r["missing"] for r in rows),
        "invented": sum(r["invented"] for r in rows),
        "stored": sum(r["stored"] for r in rows),
        "shifted": sum(r["shifted"] for r in rows),
        "series_exact": sum(1 for r in rows if r["truth"] and r["missing"] == 0 and r["invented"] == 0),
        "mean_found_share": (sum(r["found"] / r["expected"] for r in rows if r["expected"]) /
                             max(1, sum(1 for r in rows if r["expected"]))),
        "unverifiable_appointments": len(unverifiable),
        "unverifiable_occurrences": sum(len(s["occ"]) for s in unverifiable),
    }
    return summary, rows


def fmt_time(e, tz):
    if e is None:
        return "-"
    env_tz = os.environ.get("TZ")
    os.environ["TZ"] = tz
    time.tzset()
    s = time.strftime("%Y-%m-%d %H:%M %a", time.localtime(e))
    if env_tz is None:
        del os.environ["TZ"]
    else:
        os.environ["TZ"] = env_tz
    time.tzset()
    return s


def show(rows, text, tz):
    for r in rows:
        if text.lower() not in (r["file"] + " " + (r["subject"] or "")).lower():
            continue
        print("\n== TZ=%s  %s  %r  pattern=%s  notes=%s" % (tz, r["file"], r["subject"], r["pattern"], ",".join(r["notes"])))
        e = collections.Counter(x[0] for x in (r["truth"]["occ"] if r["truth"] else []))
        s = collections.Counter(x[0] for x in r["store_occ"])
        for t in sorted(set(e) | set(s)):
            mark = "both " if e[t] and s[t] else ("file " if e[t] else "store")
            print("  %s  %s  (%s UTC)" % (mark, fmt_time(t, tz), fmt_time(t, "UTC")))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--corpus", default=os.path.join(ROOT, "..", "shared", "corpus"))
    ap.add_argument("--examples", action="store_true", help="also the project's examples/")
    ap.add_argument("--cal2pst", default=None)
    ap.add_argument("--tz", default="UTC,Australia/Sydney", help="comma-separated zones to import under")
    ap.add_argument("--limit", type=int, default=0, help="only the first N files")
    ap.add_argument("--json", default=None, help="write every series' figures here")
    ap.add_argument("--worst", type=int, default=20)
    ap.add_argument("--window-days", type=int, default=730)
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "bench-occurrences"))
    ap.add_argument("--show", default=None, help="list the occurrences of series whose file or subject contains TEXT")
    args = ap.parse_args()

    if not args.cal2pst:
        for cand in ("build/dev", "build/bench", "build/release"):
            p = os.path.join(ROOT, cand, "cli", "cal2pst")
            if os.path.exists(p):
                args.cal2pst = p
                break
    if not args.cal2pst or not os.path.exists(args.cal2pst):
        sys.exit("no cal2pst: build it (cmake --build DIR --target cal2pst) or give --cal2pst PATH")
    args.cal2pst = os.path.abspath(args.cal2pst)
    os.makedirs(args.work, exist_ok=True)
    exe = build_expander(args.work)

    roots = [os.path.abspath(args.corpus)] + ([os.path.join(ROOT, "examples")] if args.examples else [])
    files = []
    for root in roots:
        for dirpath, dirnames, filenames in os.walk(root):
            dirnames.sort()
            for n in sorted(filenames):
                if n.strip().lower().endswith((".ics", ".vcs")):
                    files.append(os.path.join(dirpath, n))
    if args.limit:
        files = files[:args.limit]

    def rel(path):
        for root in roots:
            if path.startswith(root + "/"):
                return os.path.relpath(path, os.path.dirname(root) if root.endswith("examples") else root)
        return path

    zones = [z for z in args.tz.split(",") if z]
    results = {}
    for tz in zones:
        results[tz] = run(tz, files, args, exe)

    def pct(a, b):
        return "%.1f %%" % (100.0 * a / b) if b else "-"

    print("Occurrence fidelity over %d files (%s), window %d days from each series' start\n"
          % (len(files), ", ".join(roots), args.window_days))
    print("| measure | " + " | ".join("TZ=" + z for z in zones) + " |")
    print("|---|" + "---|" * len(zones))
    lines = [
        ("files (failed to import / unreadable to libical)",
         lambda s: "%d (%d / %d)" % (s["files"], s["files_failed_import"], s["files_failed_libical"])),
        ("event series in the files", lambda s: "%d" % s["series"]),
        ("appointments in the store", lambda s: "%d" % s["appointments"]),
        ("series matched to an appointment", lambda s: "%d" % s["matched"]),
        ("series with every occurrence right", lambda s: "%d" % s["series_exact"]),
        ("expected occurrences", lambda s: "{:,}".format(s["expected"])),
        ("found at the same instant", lambda s: "{:,} ({})".format(s["found"], pct(s["found"], s["expected"]))),
        ("share found, averaged over series", lambda s: "%.1f %%" % (100.0 * s["mean_found_share"])),
        ("missing", lambda s: "{:,}".format(s["missing"])),
        ("invented (share of stored)", lambda s: "{:,} ({})".format(s["invented"], pct(s["invented"], s["stored"]))),
        ("of those, a missing and an invented one within 26 h", lambda s: "{:,}".format(s["shifted"])),
        ("stored occurrences", lambda s: "{:,}".format(s["stored"])),
        ("not checked: appointments (occurrences) beside files libical cannot read",
         lambda s: "{:,} ({:,})".format(s["unverifiable_appointments"], s["unverifiable_occurrences"])),
    ]
    for name, f in lines:
        print("| %s | %s |" % (name, " | ".join(f(results[z][0]) for z in zones)))

    # Scheduling messages (iTIP: METHOD:REQUEST, REPLY, CANCEL, COUNTER...) repeat the same UIDs
    # message after message, so their series cannot be told apart in the store; the figures
    # without them are the ones that measure the import.
    scheduling = set()
    for f in files:
        with open(f, "rb") as fh:
            for line in fh.read().decode("utf-8", "replace").splitlines():
                if line.upper().startswith("METHOD:") and line[7:].strip().upper() not in ("PUBLISH", ""):
                    scheduling.add(f)
                    break
    print("\nWithout the %d files of scheduling messages (METHOD other than PUBLISH)\n" % len(scheduling))
    print("| measure | " + " | ".join("TZ=" + z for z in zones) + " |")
    print("|---|" + "---|" * len(zones))
    cells = {name: [] for name in ("expected occurrences", "found at the same instant", "missing", "invented (share of stored)")}
    for z in zones:
        sel = [r for r in results[z][1] if r["file"] not in scheduling
               and not any(r["file"] == "(folder) " + os.path.dirname(f).lstrip("/") for f in scheduling)]
        e, fo, m, i, st = (sum(r[k] for r in sel) for k in ("expected", "found", "missing", "invented", "stored"))
        cells["expected occurrences"].append("{:,}".format(e))
        cells["found at the same instant"].append("{:,} ({})".format(fo, pct(fo, e)))
        cells["missing"].append("{:,}".format(m))
        cells["invented (share of stored)"].append("{:,} ({})".format(i, pct(i, st)))
    for name, values in cells.items():
        print("| %s | %s |" % (name, " | ".join(values)))

    print("\nBy how the series' start is given (repeating series only; single events in the last row)\n")
    print("| start given | " + " | ".join("TZ=%s expected / found / missing / invented" % z for z in zones) + " |")
    print("|---|" + "---|" * len(zones))
    kinds = ["utc", "zoned", "floating", "vcal-tz", "all-day", "single"]
    for kind in kinds:
        cells = []
        for z in zones:
            sel = [r for r in results[z][1] if r["truth"] and
                   (("single" if not r["truth"].get("rule") else r["truth"].get("kind")) == kind)]
            cells.append("{:,} / {:,} / {:,} / {:,}".format(sum(r["expected"] for r in sel), sum(r["found"] for r in sel),
                                                          sum(r["missing"] for r in sel), sum(r["invented"] for r in sel)))
        print("| %s | %s |" % (kind, " | ".join(cells)))

    for tz in zones:
        rows = results[tz][1]
        worst = [r for r in sorted(rows, key=lambda r: -(r["missing"] + r["invented"]))
                 if r["missing"] + r["invented"] and r["file"] not in scheduling][:args.worst]
        print("\nWorst %d series, TZ=%s (by missing + invented; scheduling messages left out)\n" % (len(worst), tz))
        print("| file | subject | expected | found | missing | invented | stored as | notes |")
        print("|---|---|---|---|---|---|---|---|")
        for r in worst:
            print("| %s | %s | %d | %d | %d | %d | %s | %s |" % (
                rel(r["file"]) if not r["file"].startswith("(") else r["file"], (r["subject"] or "")[:40].replace("|", "/"),
                r["expected"], r["found"], r["missing"], r["invented"], r["pattern"] or "single",
                ", ".join(r["notes"])[:120]))
        if args.show:
            show(rows, args.show, tz)

    if args.json:
        out = {}
        for tz in zones:
            summary, rows = results[tz]
            out[tz] = {"summary": summary, "series": [
                {k: r[k] for k in ("file", "subject", "uid", "expected", "stored", "found", "missing", "invented",
                                   "shifted", "pattern", "notes")} for r in rows]}
        with open(args.json, "w") as f:
            json.dump(out, f, indent=1, ensure_ascii=False)


if __name__ == "__main__":
    main()
