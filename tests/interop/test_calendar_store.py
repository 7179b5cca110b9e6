#!/usr/bin/python3
"""Calendar folders filled from calendar files, read back by libpst (readpst), libpff (pffinfo,
pffexport, pypff and its C library) and pstcheck, and compared field by field with the source files.

usage: test_calendar_store.py MAKE_CALENDAR_STORE PSTCHECK EXAMPLES_DIR SHARED_DIR"""
import datetime
import glob
import os
import struct
import subprocess
import sys
import tempfile
import uuid

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(args, **kw):
    env = dict(os.environ, TZ="Europe/Berlin")
    return subprocess.run(args, capture_output=True, text=True, errors="replace", env=env, **kw)


def by_summary(found):
    """VEVENTs by summary; where a series and a single appointment share one (a start off the
    series' pattern is its own appointment), the series."""
    out = {}
    for e in found:
        if e.get("SUMMARY") not in out or "RRULE" in e:
            out[e.get("SUMMARY")] = e
    return out


def events(calendar_file):
    """readpst's VEVENTs as dicts of their lines."""
    out, current = [], None
    for line in open(calendar_file, encoding="utf-8", errors="replace").read().splitlines():
        if line == "BEGIN:VEVENT":
            current = {}
        elif line == "END:VEVENT":
            out.append(current)
            current = None
        elif current is not None and ":" in line:
            name, value = line.split(":", 1)
            current.setdefault(name.split(";")[0], value)
    return out


def libpff_item(store, subject):
    """Every property of the item named `subject` as libpff reads it, named properties by
    (set, LID): the message, its recipient rows and its attachments (with embedded messages)."""
    import ctypes as C
    import pypff
    f = pypff.file()
    f.open(store)

    def find(folder):
        for i in range(folder.number_of_sub_messages):
            if folder.get_sub_message(i).subject == subject:
                return folder.get_sub_message(i).identifier
        for i in range(folder.number_of_sub_folders):
            found = find(folder.get_sub_folder(i))
            if found:
                return found
        return None
    identifier = find(f.get_root_folder())
    if identifier is None:
        return None
    lib, err, P = C.CDLL("libpff.so.1"), C.c_void_p(), C.c_void_p
    sets = {"00062002-0000-0000-c000-000000000046": "appt", "00062008-0000-0000-c000-000000000046": "common",
            "6ed8da90-450b-101b-98da-00aa003f1305": "meeting"}

    def properties(item):
        out, n = {}, C.c_int()
        lib.libpff_item_get_number_of_record_sets(item, C.byref(n), C.byref(err))
        for k in range(n.value):
            rs, count = P(), C.c_int()
            lib.libpff_item_get_record_set_by_index(item, k, C.byref(rs), C.byref(err))
            lib.libpff_record_set_get_number_of_entries(rs, C.byref(count), C.byref(err))
            row = {}
            for i in range(count.value):
                e, tag, size, named = P(), C.c_uint32(), C.c_size_t(), P()
                lib.libpff_record_set_get_entry_by_index(rs, i, C.byref(e), C.byref(err))
                lib.libpff_record_entry_get_entry_type(e, C.byref(tag), C.byref(err))
                lib.libpff_record_entry_get_data_size(e, C.byref(size), C.byref(err))
                data = (C.c_uint8 * max(1, size.value))()
                lib.libpff_record_entry_get_data(e, data, size, C.byref(err))
                key = tag.value
                if lib.libpff_record_entry_get_name_to_id_map_entry(e, C.byref(named), C.byref(err)) == 1 and named.value:
                    guid, lid = (C.c_uint8 * 16)(), C.c_uint32()
                    lib.libpff_name_to_id_map_entry_get_guid(named, guid, 16, C.byref(err))
                    lib.libpff_name_to_id_map_entry_get_number(named, C.byref(lid), C.byref(err))
                    key = (sets.get(str(uuid.UUID(bytes_le=bytes(guid))), "?"), lid.value)
                row[key] = bytes(data[:size.value])
            out[k] = row
        return list(out.values())

    file = P()
    lib.libpff_file_initialize(C.byref(file), C.byref(err))
    lib.libpff_file_open(file, store.encode(), 1, C.byref(err))
    item, recipients, count = P(), P(), C.c_int()
    lib.libpff_file_get_item_by_identifier(file, C.c_uint32(identifier), C.byref(item), C.byref(err))
    result = {"message": properties(item)[0], "recipients": [], "attachments": []}
    if lib.libpff_message_get_recipients(item, C.byref(recipients), C.byref(err)) == 1 and recipients.value:
        result["recipients"] = properties(recipients)
    lib.libpff_message_get_number_of_attachments(item, C.byref(count), C.byref(err))
    for i in range(count.value):
        attachment, embedded = P(), P()
        lib.libpff_message_get_attachment(item, i, C.byref(attachment), C.byref(err))
        lib.libpff_attachment_get_item(attachment, C.byref(embedded), C.byref(err))
        result["attachments"].append((properties(attachment)[0], properties(embedded)[0]))
    return result


def one_off(name, address):
    """A one-off entry id (MS-OXCDATA 2.2.5.1): Unicode, no rich info, SMTP."""
    return (bytes(4) + bytes.fromhex("812B1FA4BEA310199D6E00DD010F5402") + bytes.fromhex("00000180")
            + "".join(s + "\0" for s in (name, "SMTP", address)).encode("utf-16-le"))


def filetime(y, mo, d, h=0, mi=0):
    """Little-endian FILETIME of a clock time, counted from 1601 like a UTC time."""
    seconds = (datetime.datetime(y, mo, d, h, mi) - datetime.datetime(1601, 1, 1)).total_seconds()
    return struct.pack("<Q", int(seconds) * 10000000)


def check_meeting_and_series(store):
    """team.ics's meeting (organizer Ann, attendee Bob) and birthdays.ics's endless series, read back
    by libpff: what Outlook writes for a received meeting (MS-OXOCAL, MS-OXCICAL) and for a series."""
    i32 = lambda v: struct.pack("<I", v)
    team = libpff_item(store, "Team sync")
    check(team is not None, "libpff has no appointment 'Team sync'")
    if team:
        m = team["message"]
        expected = {0x1080: i32(0x403), ("appt", 0x8217): i32(3), ("appt", 0x8218): i32(5),
                    ("appt", 0x8229): b"\x01", 0x0C1A: "Ann Example".encode("utf-16-le"),
                    0x0041: one_off("Ann Example", "ann@varnel.example"), 0x003B: b"SMTP:ANN@VARNEL.EXAMPLE\0",
                    0x0E04: "Ann Example; Bob Example".encode("utf-16-le"), 0x3FF1: i32(0x409)}
        for key, value in expected.items():
            name = "0x%04X" % key if isinstance(key, int) else "%s:0x%04X" % key
            check(m.get(key) == value, "Team sync %s: libpff reads %r, expected %r" % (name, m.get(key), value))
        check(len(m.get(0x300B, b"")) == 16, "Team sync has no 16-byte search key")
        goid = m.get(("meeting", 0x0003), b"")
        uid = b"example-team-sync@varnel.example"
        check(goid[36:40] == i32(len(uid) + 13) and goid[52:] == uid + b"\0",
              "Team sync's global object id: %s" % goid.hex())
        # Rows: the organizer (recipSendable | recipOrganizer), then Bob (recipSendable), both To.
        rows = [(r.get(0x3003), r.get(0x0C15), r.get(0x5FFD), r.get(0x5FFF), r.get(0x0FFF), r.get(0x300B))
                for r in team["recipients"]]
        check(rows == [("ann@varnel.example".encode("utf-16-le"), i32(1), i32(3), i32(0),
                        one_off("Ann Example", "ann@varnel.example"), b"SMTP:ANN@VARNEL.EXAMPLE\0"),
                       ("bob@varnel.example".encode("utf-16-le"), i32(1), i32(1), i32(0),
                        one_off("Bob Example", "bob@varnel.example"), b"SMTP:BOB@VARNEL.EXAMPLE\0")],
              "Team sync's recipient rows: %r" % rows)
        # The moved 01-25 10:00 occurrence: local clock time on the attachment, UTC on the message.
        attachment, embedded = team["attachments"][0] if team["attachments"] else ({}, {})
        check(attachment.get(0x7FF9) == filetime(2024, 1, 25, 10),
              "exception replace time %r" % attachment.get(0x7FF9))
        check(embedded.get(("appt", 0x8228)) == filetime(2024, 1, 25, 9),
              "exception's PidLidExceptionReplaceTime %r" % embedded.get(("appt", 0x8228)))
    birthday = libpff_item(store, "Anna's birthday")
    check(birthday is not None, "libpff has no appointment \"Anna's birthday\"")
    if birthday:
        m = birthday["message"]
        # No end: 4500-08-31 23:59 Berlin time, daylight saving time (UTC+2) by the zone's rule.
        check(m.get(("appt", 0x8236)) == filetime(4500, 8, 31, 21, 59), "ClipEnd %r" % m.get(("appt", 0x8236)))
        check(m.get(0x1080) == i32(0x401) and m.get(("appt", 0x8218)) == i32(0),
              "a plain series' icon and response status")
        check(m.get(0x0C1A) == "Unknown".encode("utf-16-le") and m.get(0x0C1D) == b"UNKNOWN:UNKNOWN\0",
              "a plain series' sender: Outlook's placeholder")


def main():
    make, pstcheck, examples, shared = sys.argv[1:5]
    work = tempfile.mkdtemp(prefix="calendar-store-")
    store = os.path.join(work, "calendars.pst")
    args = [make, store, "Varnel Calendars : Created - 7.12.26 9.5.07",
            "cal\\home=" + os.path.join(examples, "home", "birthdays.ics"),
            "cal\\work=" + os.path.join(examples, "office", "team.ics"),
            "cal\\work=" + os.path.join(examples, "office", "review.vcs")]
    corpus = os.path.join(shared, "corpus")
    outlook = os.path.join(corpus, "biweekly", "io", "text", "outlook-2010.ics")
    rfc = os.path.join(corpus, "calendarserver", "2445AllExamples.ics")
    have_corpus = os.path.exists(outlook) and os.path.exists(rfc)
    if have_corpus:
        args += ["cal=" + outlook, "cal\\rfc=" + rfc]
    else:
        print("skipped: the corpus part needs", corpus)
    r = r_make = run(args)
    check(r.returncode == 0 and "failed" not in r.stdout, "make_calendar_store: " + r.stdout + r.stderr)

    r = run([pstcheck, store])
    check(r.returncode == 0 and not r.stdout and not r.stderr, "pstcheck: " + r.stdout + r.stderr)
    r = run(["pffinfo", store])
    check(r.returncode == 0 and not r.stderr, "pffinfo: " + r.stderr)
    r = run(["pffexport", "-q", "-t", os.path.join(work, "export"), store])
    check(r.returncode == 0 and not r.stderr, "pffexport: " + r.stdout + r.stderr)

    # pypff: the folder tree, item counts, container and message classes.
    code = (
        "import pypff, sys\n"
        "f = pypff.file(); f.open(sys.argv[1])\n"
        "def walk(folder, path):\n"
        "    for i in range(folder.number_of_sub_folders):\n"
        "        sub = folder.get_sub_folder(i)\n"
        "        p = path + '/' + sub.name\n"
        "        classes = set(sub.get_sub_message(j).get_message_class() if hasattr(sub.get_sub_message(j), 'get_message_class') else '' for j in range(sub.number_of_sub_messages))\n"
        "        print(p, sub.number_of_sub_messages, ','.join(sorted(c or '' for c in classes)))\n"
        "        walk(sub, p)\n"
        "walk(f.get_root_folder(), '')\n"
    )
    r = run(["/usr/bin/python3", "-c", code, store])
    check(r.returncode == 0, "pypff: " + r.stderr)
    tree = {line.rsplit(" ", 2)[0]: line.rsplit(" ", 2)[1:] for line in r.stdout.splitlines()}
    top = "/Varnel Calendars : Created - 7.12.26 9.5.07"
    check(tree.get(top + "/cal/home", [None])[0] == "2", "pypff: cal/home holds %s" % tree.get(top + "/cal/home"))
    # The review's start is off its rule's pattern: an appointment of its own beside the series.
    check(tree.get(top + "/cal/work", [None])[0] == "3", "pypff: cal/work holds %s" % tree.get(top + "/cal/work"))
    if have_corpus:
        check(tree.get(top + "/cal", [None])[0] == "1", "pypff: cal holds %s" % tree.get(top + "/cal"))
        # Series Outlook cannot hold are written occurrence by occurrence, endless ones up to two
        # years past today: the store holds what the import says it wrote.
        written = {line.rsplit(": ", 1)[0]: line.rsplit(": ", 1)[1] for line in r_make.stdout.splitlines()}
        check(tree.get(top + "/cal/rfc", [None])[0] == written.get(rfc),
              "pypff: cal/rfc holds %s, the import wrote %s" % (tree.get(top + "/cal/rfc"), written.get(rfc)))

    # readpst: each appointment's fields as the source files give them.
    out = os.path.join(work, "readpst")
    os.mkdir(out)
    # One process: readpst's parallel children share one file offset and now and then skip an item.
    r = run(["readpst", "-j", "0", "-r", "-o", out, store])
    check(r.returncode == 0 and not r.stderr, "readpst: " + r.stderr)
    base = glob.glob(os.path.join(out, "*"))[0]
    home = by_summary(events(os.path.join(base, "cal", "home", "calendar")))
    work_events = by_summary(events(os.path.join(base, "cal", "work", "calendar")))
    expected = [
        (home, "Anna's birthday", {"DTSTART": "20240313T230000Z", "DTEND": "20240314T230000Z",
                                  "RRULE": "FREQ=YEARLY;BYMONTHDAY=14;BYMONTH=3", "TRIGGER": "-PT900M"}),
        (home, "Dentist", {"DTSTART": "20240402T063000Z", "DTEND": "20240402T071500Z",
                           "LOCATION": "Hauptstraße 12"}),
        (work_events, "Team sync", {"DTSTART": "20240108T090000Z", "DTEND": "20240108T093000Z", "LOCATION": "Room 1",
                                    "RRULE": "FREQ=WEEKLY;COUNT=10;BYDAY=MO;TH", "TRIGGER": "-PT15M"}),
        (work_events, "Quarterly review", {"DTSTART": "20240607T130000Z", "DTEND": "20240607T143000Z",
                                           "RRULE": "FREQ=MONTHLY;COUNT=3;INTERVAL=3;BYSETPOS=1;BYDAY=FR"}),
    ]
    if have_corpus:
        cal_events = by_summary(events(os.path.join(base, "cal", "calendar")))
        rfc_events = by_summary(events(os.path.join(base, "cal", "rfc", "calendar")))
        expected += [
            (cal_events, "Team Meeting", {"DTSTART": "20130610T160000Z", "DTEND": "20130610T170000Z",
                                          "LOCATION": "Auditorium 16"}),
            (rfc_events, "RExample01", {"DTSTART": "19970902T130000Z", "RRULE": "FREQ=DAILY;COUNT=10"}),
            (rfc_events, "RExample10", {"RRULE": "FREQ=WEEKLY;COUNT=24;INTERVAL=2;BYDAY=MO;WE;FR"}),
        ]
    for found, subject, fields in expected:
        event = found.get(subject)
        check(event is not None, "readpst has no appointment %r" % subject)
        for name, value in fields.items():
            check(event is not None and event.get(name) == value,
                  "%s %s: readpst says %r, the file %r" % (subject, name, event and event.get(name), value))

    check_meeting_and_series(store)

    if failures:
        print("0 passed, %d failed" % len(failures))
        sys.exit(1)
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
