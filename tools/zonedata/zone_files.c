/* Writes the time-zone files the Windows build ships: for every zone listed in libical's zones.tab,
 * the zone as libical reads it from this machine's tz database (the whole history: every change
 * of offset and rule since the zone's local mean time), as the one-VTIMEZONE calendar file libical's
 * own zone folder holds. libical's own files apply today's rules back to 1970, which puts a US
 * event of 1987-2006 an hour off around the old DST dates, and a German one of the 1970s.
 *
 *   zone_files LIBICAL_ZONES_TAB OUT_FOLDER
 *
 * Built for and run on the build machine (scripts/windows.sh), with its libical. A zone this
 * machine does not know keeps libical's own file (copied by the caller beforehand). */
#include <libical/ical.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static int make_folders(const char *path)
{
    char buffer[4096];
    snprintf(buffer, sizeof buffer, "%s", path);
    for (char *p = buffer + 1; *p; ++p) {
        if (*p != '/')
            continue;
        *p = '\0';
        if (mkdir(buffer, 0755) != 0 && errno != EEXIST)
            return -1;
        *p = '/';
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: zone_files LIBICAL_ZONES_TAB OUT_FOLDER\n");
        return 2;
    }
    FILE *tab = fopen(argv[1], "r");
    if (!tab) {
        fprintf(stderr, "zone_files: %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    char line[1024];
    int written = 0, kept = 0;
    while (fgets(line, sizeof line, tab)) {
        char latitude[64], longitude[64], location[512];
        if (sscanf(line, "%63s %63s %511s", latitude, longitude, location) != 3)
            continue;
        icalcomponent *zone = icaltzutil_fetch_timezone(location);
        if (!zone) {
            ++kept;
            continue;
        }
        char path[4096];
        snprintf(path, sizeof path, "%s/%s.ics", argv[2], location);
        FILE *out = make_folders(path) == 0 ? fopen(path, "wb") : NULL;
        if (!out) {
            fprintf(stderr, "zone_files: %s: %s\n", path, strerror(errno));
            icalcomponent_free(zone);
            return 1;
        }
        fprintf(out, "BEGIN:VCALENDAR\r\nPRODID:-//Varnel Software//zones from the tz database//EN\r\nVERSION:2.0\r\n%s"
                     "END:VCALENDAR\r\n", icalcomponent_as_ical_string(zone));
        fclose(out);
        icalcomponent_free(zone);
        ++written;
    }
    fclose(tab);
    printf("zone_files: %d zones from this machine's tz database, %d kept from libical\n", written, kept);
    return written > 0 ? 0 : 1;
}
