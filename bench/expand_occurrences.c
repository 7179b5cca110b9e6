/* The reference side of bench/occurrences.py: expands every event series of calendar files with
 * libical, on its own, and prints one JSON line a file:
 *
 *   {"file": PATH, "format": "ics"|"vcs", "error": TEXT|null,
 *    "series": [{"uid": TEXT|null, "summary": TEXT, "allday": BOOL, "start": EPOCH,
 *                "kind": "utc"|"zoned"|"floating"|"vcal-tz"|"all-day", "rule": BOOL,
 *                "occ": [[START, ORIGINAL], ...], "notes": "NOTE,NOTE,..."}, ...]}
 *
 * kind tells how DTSTART is given: in UTC, with a TZID, floating, floating with vCalendar's TZ
 * line, or as a date; rule whether the series repeats (RRULE or RDATE). Notes name what the
 * expansion met (an unknown TZID, a DTSTART the rule does not produce, an EXDATE that names no
 * occurrence, ...).
 *
 * START is the UTC instant (seconds since 1970) an occurrence begins, ORIGINAL the instant it had
 * before a RECURRENCE-ID override moved it (equal when it was not moved). Occurrences are those
 * whose original instant lies in [DTSTART, DTSTART + window). Floating times are read in the zone
 * of the TZ environment variable, as is the midnight an all-day occurrence begins at.
 *
 *   expand_occurrences [--window-days N] [--windows-zones XML] FILE...
 *
 * Built by bench/occurrences.py: cc -O2 expand_occurrences.c $(pkg-config --cflags --libs libical)
 * -licalvcal. Deliberately independent of the importer's own reading of the formats. */
#define _GNU_SOURCE
#include <libical/ical.h>
#include <libical/icalvcal.h>
#include <libical/vcc.h>
#include <libical/vobject.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define MAX_OCCURRENCES 20000 /* per series; a rule that would give more is cut and noted */

static long window_seconds = 730L * 86400L;

/* ---------------------------------------------------------------- small output helpers */

static void json_string(FILE *out, const char *s)
{
    if (!s) {
        fputs("null", out);
        return;
    }
    fputc('"', out);
    for (const unsigned char *p = (const unsigned char *)s; *p; ++p) {
        if (*p == '"' || *p == '\\')
            fprintf(out, "\\%c", *p);
        else if (*p < 0x20)
            fprintf(out, "\\u%04x", *p);
        else
            fputc(*p, out);
    }
    fputc('"', out);
}

/* Notes collected for one series. */
typedef struct {
    char text[512];
} notes_t;

static void note(notes_t *n, const char *what)
{
    if (strstr(n->text, what))
        return;
    size_t len = strlen(n->text);
    if (len + strlen(what) + 2 < sizeof n->text) {
        if (len)
            strcat(n->text, ",");
        strcat(n->text, what);
    }
}

/* ---------------------------------------------------------------- time zones */

typedef struct {
    char *windows;
    char *iana;
} winzone_t;

static winzone_t *winzones;
static size_t winzone_count;

/* CLDR's table of Windows zone names: <mapZone other="W. Europe Standard Time" territory="001"
 * type="Europe/Berlin"/>, the "001" row being the zone's main city. */
static void load_windows_zones(const char *path)
{
    FILE *f = fopen(path, "r");
    if (!f)
        return;
    char line[1024];
    while (fgets(line, sizeof line, f)) {
        if (!strstr(line, "<mapZone") || !strstr(line, "territory=\"001\""))
            continue;
        char *o = strstr(line, "other=\"");
        char *t = strstr(line, "type=\"");
        if (!o || !t)
            continue;
        o += 7;
        t += 6;
        char *oe = strchr(o, '"');
        char *te = strchr(t, '"');
        if (!oe || !te)
            continue;
        winzones = realloc(winzones, (winzone_count + 1) * sizeof *winzones);
        winzones[winzone_count].windows = strndup(o, (size_t)(oe - o));
        char *sp = memchr(t, ' ', (size_t)(te - t));
        winzones[winzone_count].iana = strndup(t, (size_t)((sp ? sp : te) - t));
        ++winzone_count;
    }
    fclose(f);
}

/* A VTIMEZONE whose observances all have their DTSTART and offset: without them libical reads
 * every time of the zone as UTC, while the writer plainly meant the zone its TZID names. */
static int usable_vtimezone(icaltimezone *zone)
{
    icalcomponent *vtz = icaltimezone_get_component(zone);
    if (!vtz)
        return 1;
    int observances = 0;
    for (icalcomponent *c = icalcomponent_get_first_component(vtz, ICAL_ANY_COMPONENT); c;
         c = icalcomponent_get_next_component(vtz, ICAL_ANY_COMPONENT)) {
        icalcomponent_kind k = icalcomponent_isa(c);
        if (k != ICAL_XSTANDARD_COMPONENT && k != ICAL_XDAYLIGHT_COMPONENT)
            continue;
        ++observances;
        if (!icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY) ||
            !icalcomponent_get_first_property(c, ICAL_TZOFFSETTO_PROPERTY))
            return 0;
    }
    return observances > 0;
}

/* The zone a TZID names: the file's own VTIMEZONE first (when usable), then an IANA name (also at the end of a
 * path such as /softwarestudio.org/Olson_20011030_5/America/Chicago), then a Windows name. */
static icaltimezone *resolve_tzid(icalcomponent *calendar, const char *tzid, notes_t *notes)
{
    if (!tzid || !*tzid)
        return NULL;
    icaltimezone *zone = calendar ? icalcomponent_get_timezone(calendar, tzid) : NULL;
    if (zone && !usable_vtimezone(zone))
        note(notes, "vtimezone-unusable");
    else if (zone)
        return zone;
    icaltimezone *own = zone;
    char name[256];
    snprintf(name, sizeof name, "%s", tzid);
    /* strip quotes and blanks */
    char *s = name;
    while (*s == '"' || isspace((unsigned char)*s))
        ++s;
    size_t len = strlen(s);
    while (len && (s[len - 1] == '"' || isspace((unsigned char)s[len - 1])))
        s[--len] = 0;
    if (!strcasecmp(s, "UTC") || !strcasecmp(s, "GMT") || !strcasecmp(s, "Z") || !strcasecmp(s, "Etc/UTC") ||
        !strcasecmp(s, "Etc/GMT"))
        return icaltimezone_get_utc_timezone();
    for (const char *p = s; p; p = strchr(p + 1, '/')) {
        const char *candidate = (*p == '/') ? p + 1 : p;
        if (!*candidate)
            break;
        zone = icaltimezone_get_builtin_timezone(candidate);
        if (zone) {
            note(notes, "tzid-by-name");
            return zone;
        }
    }
    for (size_t i = 0; i < winzone_count; ++i)
        if (!strcasecmp(winzones[i].windows, s)) {
            zone = icaltimezone_get_builtin_timezone(winzones[i].iana);
            if (zone) {
                note(notes, "tzid-windows");
                return zone;
            }
        }
    if (own)
        return own; /* nothing better: what libical makes of it */
    note(notes, "tzid-unknown");
    return NULL;
}

/* vCalendar 1.0's TZ and DAYLIGHT properties give floating times a fixed offset, and a daylight
 * offset within the periods listed. */
typedef struct {
    int has_tz;
    long std_offset; /* seconds east of UTC */
    int daylight_count;
    struct {
        long offset;
        time_t start, end; /* UTC */
    } daylight[64];
} vcal_zone_t;

static int parse_offset(const char *s, long *out)
{
    while (isspace((unsigned char)*s))
        ++s;
    int sign = 1;
    if (*s == '+')
        ++s;
    else if (*s == '-') {
        sign = -1;
        ++s;
    } else
        return 0;
    int digits = 0;
    long h = 0, m = 0;
    while (isdigit((unsigned char)*s) && digits < 2) {
        h = h * 10 + (*s++ - '0');
        ++digits;
    }
    if (!digits)
        return 0;
    if (*s == ':')
        ++s;
    digits = 0;
    while (isdigit((unsigned char)*s) && digits < 2) {
        m = m * 10 + (*s++ - '0');
        ++digits;
    }
    if (digits == 1)
        return 0;
    while (isspace((unsigned char)*s))
        ++s;
    if (*s)
        return 0;
    *out = sign * (h * 3600 + m * 60);
    return 1;
}

/* ---------------------------------------------------------------- instants */

typedef struct {
    icalcomponent *calendar;
    const vcal_zone_t *vzone; /* NULL for iCalendar */
} context_t;

static time_t local_epoch(int y, int mo, int d, int h, int mi, int s)
{
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

static time_t utc_epoch(int y, int mo, int d, int h, int mi, int s)
{
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return timegm(&tm);
}

/* A time as the file means it. zone is the resolved zone of its TZID (NULL: none, or unknown). */
static time_t instant(struct icaltimetype t, icaltimezone *zone, const context_t *ctx)
{
    if (t.is_date)
        return local_epoch(t.year, t.month, t.day, 0, 0, 0);
    if (icaltime_is_utc(t) || zone == icaltimezone_get_utc_timezone())
        return utc_epoch(t.year, t.month, t.day, t.hour, t.minute, t.second);
    if (zone)
        return icaltime_as_timet_with_zone(t, zone);
    if (ctx->vzone && ctx->vzone->has_tz) {
        time_t wall = utc_epoch(t.year, t.month, t.day, t.hour, t.minute, t.second);
        time_t e = wall - ctx->vzone->std_offset;
        for (int i = 0; i < ctx->vzone->daylight_count; ++i)
            if (e >= ctx->vzone->daylight[i].start && e < ctx->vzone->daylight[i].end)
                return wall - ctx->vzone->daylight[i].offset;
        return e;
    }
    return local_epoch(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

/* A date-time property of a component, with the zone its TZID names. */
typedef struct {
    int valid;
    struct icaltimetype t;
    icaltimezone *zone;
} dt_t;

static dt_t property_time(icalcomponent *calendar, icalproperty *prop, struct icaltimetype t, notes_t *notes)
{
    dt_t r;
    r.valid = !icaltime_is_null_time(t) && icaltime_is_valid_time(t);
    r.t = t;
    r.zone = NULL;
    if (!r.valid)
        return r;
    icalparameter *p = icalproperty_get_first_parameter(prop, ICAL_TZID_PARAMETER);
    if (p && !t.is_date && !icaltime_is_utc(t))
        r.zone = resolve_tzid(calendar, icalparameter_get_tzid(p), notes);
    if (r.zone)
        r.t.zone = r.zone;
    return r;
}

/* Whether a listed time (EXDATE, RECURRENCE-ID) names the occurrence whose wall time in the
 * series' zone is occ and whose instant is occ_epoch. */
static int names_occurrence(const dt_t *listed, time_t listed_epoch, struct icaltimetype occ, time_t occ_epoch)
{
    if (listed->t.is_date || occ.is_date)
        return listed->t.year == occ.year && listed->t.month == occ.month && listed->t.day == occ.day;
    if (!listed->zone && !icaltime_is_utc(listed->t) && occ.zone)
        return listed->t.year == occ.year && listed->t.month == occ.month && listed->t.day == occ.day &&
               listed->t.hour == occ.hour && listed->t.minute == occ.minute && listed->t.second == occ.second;
    return listed_epoch == occ_epoch;
}

/* ---------------------------------------------------------------- series */

typedef struct {
    struct icaltimetype wall; /* in the series' zone, for matching EXDATE and RECURRENCE-ID */
    time_t start, original;
    int removed;
} occ_t;

typedef struct {
    occ_t *v;
    size_t n, cap;
} occ_list_t;

static void occ_add(occ_list_t *l, struct icaltimetype wall, time_t start, time_t original)
{
    for (size_t i = 0; i < l->n; ++i)
        if (!l->v[i].removed && l->v[i].original == original && l->v[i].start == start)
            return;
    if (l->n == l->cap) {
        l->cap = l->cap ? l->cap * 2 : 64;
        l->v = realloc(l->v, l->cap * sizeof *l->v);
    }
    l->v[l->n].wall = wall;
    l->v[l->n].start = start;
    l->v[l->n].original = original;
    l->v[l->n].removed = 0;
    ++l->n;
}

static int cmp_occ(const void *a, const void *b)
{
    const occ_t *x = a, *y = b;
    if (x->start != y->start)
        return x->start < y->start ? -1 : 1;
    return x->original < y->original ? -1 : x->original > y->original;
}

/* Expands one series: master (may be NULL for an override without its series) and its overrides. */
/* An event of a file, with the calendar it lies in (a file may hold several). */
typedef struct {
    icalcomponent *event;
    context_t ctx;
} entry_t;

static void expand_series(FILE *out, const entry_t *master_entry, const entry_t *overrides, size_t override_count,
                          int *first)
{
    notes_t notes = {{0}};
    icalcomponent *master = master_entry ? master_entry->event : NULL;
    const context_t *ctx = master_entry ? &master_entry->ctx : &overrides[0].ctx;
    icalcomponent *calendar = ctx->calendar;
    icalcomponent *head = master ? master : overrides[0].event;
    icalproperty *dtprop = icalcomponent_get_first_property(head, ICAL_DTSTART_PROPERTY);
    if (!master)
        note(&notes, "override-without-series");
    if (icalcomponent_get_first_property(head, ICAL_XLICERROR_PROPERTY))
        note(&notes, "libical-error");
    if (!dtprop) {
        /* the file gives no time: nothing to place */
        return;
    }
    dt_t dtstart = property_time(calendar, dtprop, icalproperty_get_dtstart(dtprop), &notes);
    if (!dtstart.valid)
        return;
    time_t s0 = instant(dtstart.t, dtstart.zone, ctx);
    time_t end = s0 + window_seconds;
    occ_list_t occ = {0};
    int capped = 0;

    if (master) {
        int has_rule = 0, dtstart_generated = 0;
        for (icalproperty *p = icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY); p;
             p = icalcomponent_get_next_property(master, ICAL_RRULE_PROPERTY)) {
            struct icalrecurrencetype rule = icalproperty_get_rrule(p);
            /* Through the text form and back: libical's vCalendar converter leaves the week's
             * first day unset, and its iterator then picks the wrong weeks of an INTERVAL=2
             * weekly rule; the parser sets the default (Monday). */
            char *text = icalrecurrencetype_as_string_r(&rule);
            if (text) {
                rule = icalrecurrencetype_from_string(text);
                free(text);
            }
            if (rule.freq == ICAL_NO_RECURRENCE) {
                note(&notes, "rrule-unreadable");
                continue;
            }
            has_rule = 1;
            if (rule.freq < ICAL_DAILY_RECURRENCE)
                note(&notes, "rrule-subdaily");
            icalrecur_iterator *it = icalrecur_iterator_new(rule, dtstart.t);
            if (!it) {
                note(&notes, "rrule-rejected");
                continue;
            }
            size_t produced = 0, before = occ.n;
            int this_rule_has_dtstart = 0;
            for (struct icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t);
                 t = icalrecur_iterator_next(it)) {
                t.zone = dtstart.t.zone;
                t.is_date = dtstart.t.is_date;
                time_t e = instant(t, dtstart.zone, ctx);
                if (e >= end)
                    break;
                if (e < s0)
                    continue;
                if (e == s0)
                    dtstart_generated = this_rule_has_dtstart = 1;
                if (++produced > MAX_OCCURRENCES) {
                    capped = 1;
                    break;
                }
                occ_add(&occ, t, e, e);
            }
            icalrecur_iterator_free(it);
            /* DTSTART always counts as the first of COUNT occurrences (RFC 5545 3.3.10); libical's
             * iterator leaves out a DTSTART the rule does not produce and gives COUNT more */
            if (rule.count > 0 && !this_rule_has_dtstart && produced == (size_t)rule.count && occ.n > before) {
                --occ.n;
                note(&notes, "count-includes-dtstart");
            }
        }
        for (icalproperty *p = icalcomponent_get_first_property(master, ICAL_RDATE_PROPERTY); p;
             p = icalcomponent_get_next_property(master, ICAL_RDATE_PROPERTY)) {
            struct icaldatetimeperiodtype rd = icalproperty_get_rdate(p);
            struct icaltimetype t = icaltime_is_null_time(rd.time) ? rd.period.start : rd.time;
            dt_t d = property_time(calendar, p, t, &notes);
            if (!d.valid) {
                note(&notes, "rdate-unreadable");
                continue;
            }
            has_rule = 1;
            note(&notes, "rdate");
            time_t e = instant(d.t, d.zone ? d.zone : (d.t.is_date || icaltime_is_utc(d.t) ? NULL : dtstart.zone), ctx);
            if (e < s0 || e >= end)
                continue;
            if (e == s0)
                dtstart_generated = 1;
            occ_add(&occ, d.t, e, e);
        }
        if (has_rule && !dtstart_generated)
            note(&notes, "dtstart-not-in-rule");
        /* DTSTART is the first instance of the set (RFC 5545 3.8.5.3) */
        occ_add(&occ, dtstart.t, s0, s0);

        for (icalproperty *p = icalcomponent_get_first_property(master, ICAL_EXDATE_PROPERTY); p;
             p = icalcomponent_get_next_property(master, ICAL_EXDATE_PROPERTY)) {
            dt_t x = property_time(calendar, p, icalproperty_get_exdate(p), &notes);
            if (!x.valid) {
                note(&notes, "exdate-unreadable");
                continue;
            }
            time_t xe = instant(x.t, x.zone, ctx);
            int hit = 0;
            for (size_t i = 0; i < occ.n; ++i)
                if (!occ.v[i].removed && names_occurrence(&x, xe, occ.v[i].wall, occ.v[i].start)) {
                    occ.v[i].removed = 1;
                    hit = 1;
                }
            if (hit)
                note(&notes, "exdate");
            else if (xe >= s0 && xe < end)
                note(&notes, "exdate-matches-nothing");
        }
    } else {
        occ_add(&occ, dtstart.t, s0, s0);
    }

    /* overrides: each replaces the occurrence its RECURRENCE-ID names */
    for (size_t k = 0; k < override_count && master; ++k) {
        icalcomponent *o = overrides[k].event;
        const context_t *octx = &overrides[k].ctx;
        icalproperty *rp = icalcomponent_get_first_property(o, ICAL_RECURRENCEID_PROPERTY);
        dt_t rid = property_time(octx->calendar, rp, icalproperty_get_recurrenceid(rp), &notes);
        if (!rid.valid) {
            note(&notes, "recurrence-id-unreadable");
            continue;
        }
        icalparameter *range = icalproperty_get_first_parameter(rp, ICAL_RANGE_PARAMETER);
        if (range)
            note(&notes, "override-range-ignored");
        time_t re = instant(rid.t, rid.zone, octx);
        size_t hits = 0;
        for (size_t i = 0; i < occ.n; ++i)
            if (!occ.v[i].removed && names_occurrence(&rid, re, occ.v[i].wall, occ.v[i].start)) {
                occ.v[i].removed = 1;
                re = occ.v[i].original;
                ++hits;
            }
        if (re < s0 || re >= end)
            continue;
        if (!hits)
            note(&notes, "override-matches-nothing");
        note(&notes, "override");
        if (icalcomponent_get_first_property(o, ICAL_STATUS_PROPERTY) &&
            icalcomponent_get_status(o) == ICAL_STATUS_CANCELLED) {
            note(&notes, "override-cancelled");
            continue;
        }
        icalproperty *op = icalcomponent_get_first_property(o, ICAL_DTSTART_PROPERTY);
        dt_t ns = op ? property_time(octx->calendar, op, icalproperty_get_dtstart(op), &notes) : rid;
        if (!ns.valid)
            ns = rid;
        occ_add(&occ, ns.t, instant(ns.t, ns.zone, octx), re);
    }
    if (capped)
        note(&notes, "capped");

    /* output */
    size_t kept = 0;
    for (size_t i = 0; i < occ.n; ++i)
        if (!occ.v[i].removed)
            occ.v[kept++] = occ.v[i];
    qsort(occ.v, kept, sizeof *occ.v, cmp_occ);
    if (!*first)
        fputs(", ", out);
    *first = 0;
    fputs("{\"uid\": ", out);
    json_string(out, icalcomponent_get_first_property(head, ICAL_UID_PROPERTY) ? icalcomponent_get_uid(head) : NULL);
    fputs(", \"summary\": ", out);
    icalcomponent *named = master ? master : head;
    const char *summary =
        icalcomponent_get_first_property(named, ICAL_SUMMARY_PROPERTY) ? icalcomponent_get_summary(named) : NULL;
    json_string(out, summary ? summary : "");
    const char *kind = dtstart.t.is_date             ? "all-day"
                       : icaltime_is_utc(dtstart.t) ? "utc"
                       : dtstart.zone               ? "zoned"
                       : (ctx->vzone && ctx->vzone->has_tz) ? "vcal-tz"
                                                            : "floating";
    fprintf(out, ", \"allday\": %s, \"start\": %lld, \"kind\": \"%s\", \"rule\": %s, \"occ\": [",
            dtstart.t.is_date ? "true" : "false", (long long)s0, kind,
            (master && (icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY) ||
                        icalcomponent_get_first_property(master, ICAL_RDATE_PROPERTY)))
                ? "true"
                : "false");
    for (size_t i = 0; i < kept; ++i)
        fprintf(out, "%s[%lld, %lld]", i ? ", " : "", (long long)occ.v[i].start, (long long)occ.v[i].original);
    fputs("], \"notes\": ", out);
    json_string(out, notes.text);
    fputc('}', out);
    free(occ.v);
}

/* ---------------------------------------------------------------- files */

typedef struct {
    entry_t *v;
    size_t n, cap;
} entry_list_t;

static void entry_add(entry_list_t *l, icalcomponent *event, context_t ctx)
{
    if (l->n == l->cap) {
        l->cap = l->cap ? l->cap * 2 : 16;
        l->v = realloc(l->v, l->cap * sizeof *l->v);
    }
    l->v[l->n].event = event;
    l->v[l->n].ctx = ctx;
    ++l->n;
}

/* The events of a calendar (or a bare event), each with its calendar. */
static void collect_events(entry_list_t *events, icalcomponent *holder, context_t ctx)
{
    if (icalcomponent_isa(holder) == ICAL_VEVENT_COMPONENT)
        entry_add(events, holder, ctx);
    for (icalcomponent *c = icalcomponent_get_first_component(holder, ICAL_VEVENT_COMPONENT); c;
         c = icalcomponent_get_next_component(holder, ICAL_VEVENT_COMPONENT))
        entry_add(events, c, ctx);
}

static int same_uid(icalcomponent *a, icalcomponent *b)
{
    const char *x = icalcomponent_get_first_property(a, ICAL_UID_PROPERTY) ? icalcomponent_get_uid(a) : NULL;
    const char *y = icalcomponent_get_first_property(b, ICAL_UID_PROPERTY) ? icalcomponent_get_uid(b) : NULL;
    return x && y && !strcmp(x, y);
}

/* The events of a file grouped into series by UID: a RECURRENCE-ID override belongs to the
 * series of its UID, even when it lies in another VCALENDAR of the same file. */
static void expand_events(FILE *out, const entry_list_t *events, int *first)
{
    size_t n = events->n;
    char *is_series = calloc(n + 1, 1);
    size_t *owner = calloc(n + 1, sizeof *owner);
    for (size_t i = 0; i < n; ++i)
        is_series[i] = !icalcomponent_get_first_property(events->v[i].event, ICAL_RECURRENCEID_PROPERTY);
    /* an override goes to the series of its UID in its own VCALENDAR, else to the first series of
     * that UID elsewhere in the file, else it stands alone */
    for (size_t j = 0; j < n; ++j) {
        owner[j] = (size_t)-1;
        if (is_series[j])
            continue;
        for (int pass = 0; pass < 2 && owner[j] == (size_t)-1; ++pass)
            for (size_t i = 0; i < n; ++i)
                if (is_series[i] && (pass || events->v[i].ctx.calendar == events->v[j].ctx.calendar) &&
                    same_uid(events->v[i].event, events->v[j].event)) {
                    owner[j] = i;
                    break;
                }
    }
    for (size_t i = 0; i < n; ++i) {
        if (!is_series[i])
            continue;
        entry_list_t overrides = {0};
        for (size_t j = 0; j < n; ++j)
            if (owner[j] == i)
                entry_add(&overrides, events->v[j].event, events->v[j].ctx);
        expand_series(out, &events->v[i], overrides.v, overrides.n, first);
        free(overrides.v);
    }
    for (size_t j = 0; j < n; ++j)
        if (!is_series[j] && owner[j] == (size_t)-1)
            expand_series(out, NULL, &events->v[j], 1, first);
    free(owner);
    free(is_series);
}

static char *read_file(const char *path, size_t *size)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return NULL;
    size_t cap = 1 << 16, n = 0;
    char *buf = malloc(cap + 1);
    size_t got;
    while ((got = fread(buf + n, 1, cap - n, f)) > 0) {
        n += got;
        if (n == cap) {
            cap *= 2;
            buf = realloc(buf, cap + 1);
        }
    }
    fclose(f);
    buf[n] = 0;
    /* lines ended by CR alone (old Mac and Lotus Notes files) end in LF for libical */
    for (size_t i = 0; i < n; ++i)
        if (buf[i] == '\r' && buf[i + 1] != '\n')
            buf[i] = '\n';
    *size = n;
    return buf;
}

/* vCalendar 1.0 when the file's first VERSION line says 1.0, whatever its name; the value may be
 * given in base64 ("MS4w") or quoted-printable ("=31=2E=30"). */
static int is_vcalendar(const char *text)
{
    for (const char *p = text; p && *p; p = strchr(p, '\n')) {
        while (*p == '\n' || *p == '\r')
            ++p;
        if (strncasecmp(p, "VERSION", 7) || (p[7] != ':' && p[7] != ';' && p[7] != ' ' && p[7] != '\t'))
            continue;
        const char *colon = strchr(p, ':');
        const char *eol = strpbrk(p, "\r\n");
        if (!colon || (eol && colon > eol))
            continue;
        const char *v = colon + 1;
        while (*v == ' ' || *v == '\t')
            ++v;
        if (!strncmp(v, "1.0", 3) || !strncmp(v, "MS4w", 4) || !strncasecmp(v, "=31=2E=30", 9) ||
            !strncasecmp(v, "1=2E0", 5))
            return 1;
        return 0;
    }
    return 0;
}

/* iCalendar text under a VERSION:1.0 line: TZID parameters, VTIMEZONE or iCalendar repeat rules
 * say what the writer meant, and vCalendar's reading would drop them. */
static int looks_like_icalendar(const char *text)
{
    return strcasestr(text, ";TZID=") || strcasestr(text, "BEGIN:VTIMEZONE") || strcasestr(text, "RRULE:FREQ=") ||
           strcasestr(text, "\nRRULE;");
}

/* Lines for libical's parser, as icalparser_parse_string feeds them. */
typedef struct {
    const char *pos;
} line_source_t;

static char *next_line(char *out, size_t size, void *data)
{
    line_source_t *src = data;
    if (!src->pos || !*src->pos)
        return NULL;
    const char *nl = strchr(src->pos, '\n');
    size_t len = nl ? (size_t)(nl - src->pos) + 1 : strlen(src->pos);
    if (len > size - 1)
        len = size - 1;
    memcpy(out, src->pos, len);
    out[len] = 0;
    src->pos += len;
    return out;
}

/* The file's components, as icalparser_parse_string gives them, plus what a file cut short
 * leaves open (libical closes it, marking it with X-LIC-ERROR). */
static icalcomponent *parse_icalendar(const char *text)
{
    icalparser *parser = icalparser_new();
    line_source_t src = {text};
    icalparser_set_gen_data(parser, &src);
    icalcomponent *root = icalparser_parse(parser, next_line);
    icalcomponent *left = icalparser_clean(parser);
    /* a copy: the parser frees what it holds */
    icalcomponent *rest = left && left != root && !icalcomponent_get_parent(left) ? icalcomponent_new_clone(left) : NULL;
    icalparser_free(parser);
    if (rest) {
        if (!root)
            return rest;
        icalcomponent *x = icalcomponent_new(ICAL_XROOT_COMPONENT);
        if (icalcomponent_isa(root) == ICAL_XROOT_COMPONENT) {
            icalcomponent *c;
            while ((c = icalcomponent_get_first_component(root, ICAL_ANY_COMPONENT))) {
                icalcomponent_remove_component(root, c);
                icalcomponent_add_component(x, c);
            }
            icalcomponent_free(root);
        } else {
            icalcomponent_add_component(x, root);
        }
        icalcomponent_add_component(x, rest);
        return x;
    }
    return root;
}

static const char *vobject_text(VObject *prop, char *buf, size_t size)
{
    buf[0] = 0;
    if (vObjectValueType(prop) == VCVT_USTRINGZ) {
        char *s = fakeCString(vObjectUStringZValue(prop));
        if (s) {
            snprintf(buf, size, "%s", s);
            deleteStr(s);
        }
    } else if (vObjectValueType(prop) == VCVT_STRINGZ) {
        snprintf(buf, size, "%s", vObjectStringZValue(prop));
    }
    return buf;
}

static time_t vcal_time(const char *s, long offset)
{
    int y, mo, d, h = 0, mi = 0, se = 0;
    if (sscanf(s, "%4d%2d%2dT%2d%2d%2d", &y, &mo, &d, &h, &mi, &se) < 3)
        return 0;
    time_t wall = utc_epoch(y, mo, d, h, mi, se);
    return strchr(s, 'Z') ? wall : wall - offset;
}

static void vcal_zone_of(VObject *cal, vcal_zone_t *z)
{
    memset(z, 0, sizeof *z);
    VObjectIterator it;
    char buf[512];
    initPropIterator(&it, cal);
    while (moreIteration(&it)) {
        VObject *p = nextVObject(&it);
        const char *name = vObjectName(p);
        if (!strcasecmp(name, "TZ")) {
            z->has_tz = parse_offset(vobject_text(p, buf, sizeof buf), &z->std_offset);
        }
    }
    if (!z->has_tz)
        return;
    initPropIterator(&it, cal);
    while (moreIteration(&it)) {
        VObject *p = nextVObject(&it);
        if (strcasecmp(vObjectName(p), "DAYLIGHT") || z->daylight_count >= 64)
            continue;
        char *fields[6] = {0};
        char *text = strdup(vobject_text(p, buf, sizeof buf));
        int nf = 0;
        for (char *f = text; f && nf < 6; ++nf) {
            fields[nf] = f;
            f = strchr(f, ';');
            if (f)
                *f++ = 0;
        }
        long off;
        if (nf >= 4 && !strcasecmp(fields[0], "TRUE") && parse_offset(fields[1], &off)) {
            z->daylight[z->daylight_count].offset = off;
            z->daylight[z->daylight_count].start = vcal_time(fields[2], z->std_offset);
            z->daylight[z->daylight_count].end = vcal_time(fields[3], off);
            ++z->daylight_count;
        }
        free(text);
    }
}

static void expand_file(FILE *out, const char *path)
{
    size_t size = 0;
    char *text = read_file(path, &size);
    fputs("{\"file\": ", out);
    json_string(out, path);
    if (!text) {
        fputs(", \"format\": null, \"error\": \"unreadable\", \"series\": []}\n", out);
        return;
    }
    int version1 = is_vcalendar(text);
    int vcal = version1 && !looks_like_icalendar(text);
    fprintf(out, ", \"format\": \"%s\", \"error\": ", vcal ? "vcs" : version1 ? "ics-under-version-1.0" : "ics");
    int first = 1;
    if (vcal) {
        VObject *list = Parse_MIME(text, (unsigned long)size);
        if (!list) {
            fputs("\"vcalendar parse failed\", \"series\": []}\n", out);
            free(text);
            return;
        }
        fputs("null, \"series\": [", out);
        size_t count = 0;
        for (VObject *v = list; v; v = nextVObjectInList(v))
            ++count;
        icalcomponent **cals = calloc(count + 1, sizeof *cals);
        vcal_zone_t *zones = calloc(count + 1, sizeof *zones);
        entry_list_t events = {0};
        size_t k = 0;
        for (VObject *v = list; v; v = nextVObjectInList(v), ++k) {
            vcal_zone_of(v, &zones[k]);
            cals[k] = icalvcal_convert(v);
            if (!cals[k])
                continue;
            context_t ctx = {cals[k], &zones[k]};
            collect_events(&events, cals[k], ctx);
        }
        expand_events(out, &events, &first);
        for (k = 0; k < count; ++k)
            if (cals[k])
                icalcomponent_free(cals[k]);
        free(cals);
        free(zones);
        free(events.v);
        cleanVObjects(list);
    } else {
        icalcomponent *root = parse_icalendar(text);
        if (!root) {
            fputs("\"icalendar parse failed\", \"series\": []}\n", out);
            free(text);
            return;
        }
        fputs("null, \"series\": [", out);
        entry_list_t events = {0};
        if (icalcomponent_isa(root) == ICAL_XROOT_COMPONENT) {
            for (icalcomponent *c = icalcomponent_get_first_component(root, ICAL_ANY_COMPONENT); c;
                 c = icalcomponent_get_next_component(root, ICAL_ANY_COMPONENT)) {
                context_t ctx = {icalcomponent_isa(c) == ICAL_VCALENDAR_COMPONENT ? c : NULL, NULL};
                collect_events(&events, c, ctx);
            }
        } else {
            context_t ctx = {icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT ? root : NULL, NULL};
            collect_events(&events, root, ctx);
        }
        expand_events(out, &events, &first);
        free(events.v);
        icalcomponent_free(root);
    }
    fputs("]}\n", out);
    free(text);
}

int main(int argc, char **argv)
{
    icalerror_set_errors_are_fatal(0);
    const char *winzones_path = "/usr/share/unicode/cldr/common/supplemental/windowsZones.xml";
    int i = 1;
    for (; i < argc; ++i) {
        if (!strcmp(argv[i], "--window-days") && i + 1 < argc)
            window_seconds = atol(argv[++i]) * 86400L;
        else if (!strcmp(argv[i], "--windows-zones") && i + 1 < argc)
            winzones_path = argv[++i];
        else
            break;
    }
    tzset();
    load_windows_zones(winzones_path);
    for (; i < argc; ++i) {
        expand_file(stdout, argv[i]);
        fflush(stdout);
    }
    return 0;
}
