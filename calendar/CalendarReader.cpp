#include "Appointment.h"
#include "CalendarScan.h"
#include "EventMapper.h"
#include "TextCodec.h"
#include "TimeZones.h"

#include <libical/ical.h>
// icalvcal.h declares its functions without C linkage for C++.
extern "C" {
#include <libical/icalvcal.h>
}
#include <libical/vcc.h>

#include <algorithm>
#include <iconv.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <memory>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace cal {

namespace {

// Files larger than this are refused rather than read whole into memory.
constexpr std::uint64_t kMaxFileSize = 512ull << 20;
// libical's vCalendar parser fails on files of more than about 480 events: larger files are
// read in parts of this many events.
constexpr std::size_t kVCalendarPart = 400;

struct ComponentDeleter {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentDeleter>;

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

// Whether `text` holds `word` (upper case) in any case, without copying the text.
bool ContainsNoCase(const std::string& text, const char* word)
{
    const std::size_t n = std::strlen(word);
    auto it = std::search(text.begin(), text.end(), word, word + n,
                          [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
    return it != text.end();
}

// Lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        at = end + 1;
    }
    return lines;
}

bool StartsWithNoCase(const std::string& line, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    return line.size() >= n && Upper(line.substr(0, n)) == prefix;
}

// Closes components a file left open, so that a file missing an END line still reads.
std::string Repaired(const std::string& text)
{
    std::string out;
    std::vector<std::string> open;
    for (const std::string& line : Lines(text)) {
        if (StartsWithNoCase(line, "BEGIN:")) {
            const std::string name = Upper(line.substr(6));
            // A new event while one is still open: the open one ends here.
            if (!open.empty() && (name == "VEVENT" || name == "VTODO" || name == "VJOURNAL") && open.back() == name) {
                out += "END:" + name + "\r\n";
                open.pop_back();
            }
            open.push_back(name);
        } else if (StartsWithNoCase(line, "END:")) {
            const std::string name = Upper(line.substr(4));
            while (!open.empty() && open.back() != name) {
                out += "END:" + open.back() + "\r\n";
                open.pop_back();
            }
            if (open.empty())
                continue;
            open.pop_back();
        }
        out += line + "\r\n";
    }
    while (!open.empty()) {
        out += "END:" + open.back() + "\r\n";
        open.pop_back();
    }
    return out;
}

// The components whose children are the file's events: every VCALENDAR, and the file itself
// when it holds events outside any VCALENDAR.
void CollectCalendars(icalcomponent* root, std::vector<icalcomponent*>& out)
{
    if (icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT) {
        out.push_back(root);
        return;
    }
    for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VCALENDAR_COMPONENT); c;
         c = icalcomponent_get_next_component(root, ICAL_VCALENDAR_COMPONENT))
        out.push_back(c);
    if (icalcomponent_count_components(root, ICAL_VEVENT_COMPONENT) || icalcomponent_count_components(root, ICAL_VTODO_COMPONENT)
        || icalcomponent_count_components(root, ICAL_VJOURNAL_COMPONENT))
        out.push_back(root);
}

// Hands libical the text a line at a time, as its string parser does, but looks for the end of
// a line only within the piece it copies: libical's own generator scans to the end of the line
// on every call, which makes one long line (a large body) take quadratic time.
struct TextLines {
    const char* at;
    const char* end;
    const char* lastNewline;  // past it, lines end in a carriage return alone
};

char* NextLine(char* out, std::size_t size, void* data)
{
    auto* lines = static_cast<TextLines*>(data);
    if (lines->at >= lines->end || size < 2)
        return nullptr;
    std::size_t n = std::min<std::size_t>(size - 1, lines->end - lines->at);
    const bool crOnly = lines->lastNewline == nullptr || lines->at > lines->lastNewline;
    const void* stop = std::memchr(lines->at, crOnly ? '\r' : '\n', n);
    if (stop)
        n = static_cast<const char*>(stop) - lines->at + 1;
    std::memcpy(out, lines->at, n);
    if (stop && crOnly)
        out[n - 1] = '\n';
    out[n] = '\0';
    lines->at += n;
    return out;
}

icalcomponent* ParseText(const std::string& text)
{
    // libical stops at a NUL byte; so does this.
    const std::size_t length = std::strlen(text.c_str());
    const std::size_t lastNewline = text.find_last_of('\n', length == 0 ? 0 : length - 1);
    TextLines lines{text.c_str(), text.c_str() + length,
                    lastNewline == std::string::npos || length == 0 ? nullptr : text.c_str() + lastNewline};
    icalparser* parser = icalparser_new();
    if (!parser)
        return nullptr;
    icalparser_set_gen_data(parser, &lines);
    const icalerrorstate saved = icalerror_get_error_state(ICAL_MALFORMEDDATA_ERROR);
    icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, ICAL_ERROR_NONFATAL);
    icalcomponent* root = icalparser_parse(parser, NextLine);
    icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, saved);
    icalparser_free(parser);
    return root;
}

std::vector<Component> ParseICalendar(const std::string& original, CalendarFile& result)
{
    std::vector<Component> roots;
    // Events written without their VCALENDAR around them: read them as if it were there.
    const std::string text = !ContainsNoCase(original, "BEGIN:VCALENDAR")
                                 ? "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" + original + "\r\nEND:VCALENDAR\r\n"
                                 : original;
    icalcomponent* root = ParseText(text);
    if (!root) {
        root = ParseText(Repaired(text));
        if (root)
            result.warnings.push_back("the file had unfinished entries; they were closed where they broke off");
    }
    if (root)
        roots.emplace_back(root);
    return roots;
}

// A vCalendar file cut into its header and its entries (BEGIN:VEVENT ... END:VEVENT, and tasks).
struct VCalendarParts {
    std::string header;
    std::vector<std::string> entries;
};

VCalendarParts SplitVCalendar(const std::string& text)
{
    VCalendarParts parts;
    std::string* current = &parts.header;
    int depth = 0;
    for (std::string line : Lines(text)) {
        // libical's vCalendar parser does not know ENCODING=8-BIT, which only says "as it is".
        const auto nameEnd = line.find(':');
        for (const char* param : {";ENCODING=8-BIT", ";ENCODING=8BIT"}) {
            const std::size_t at = Upper(line.substr(0, nameEnd)).find(param);
            if (at != std::string::npos)
                line.erase(at, std::strlen(param));
        }
        // A property with nothing after its colon says nothing, and libical's vCalendar parser
        // gives up on the whole file for some of them.
        const auto colon = line.find(':');
        if (colon != std::string::npos && line.find_first_not_of(" \t", colon + 1) == std::string::npos
            && line[0] != ' ' && line[0] != '\t')
            continue;
        if (depth == 0 && (StartsWithNoCase(line, "BEGIN:VEVENT") || StartsWithNoCase(line, "BEGIN:VTODO"))) {
            parts.entries.emplace_back();
            current = &parts.entries.back();
            depth = 1;
        } else if (depth > 0 && StartsWithNoCase(line, "BEGIN:")) {
            ++depth;
        } else if (StartsWithNoCase(line, "END:VCALENDAR")) {
            if (depth > 0) {
                depth = 0;
                current = &parts.header;
            }
            continue;
        } else if (StartsWithNoCase(line, "BEGIN:VCALENDAR") && !parts.entries.empty()) {
            continue;  // a further calendar block in the same file: its entries join the list
        }
        *current += line + "\r\n";
        if (depth > 0 && StartsWithNoCase(line, "END:") && --depth == 0)
            current = &parts.header;
    }
    return parts;
}

// vCalendar lists EXDATE values with ';'; libical keeps only a single value, so the lists are
// read here, by the entry's UID.
void RawExdates(const std::vector<std::string>& entries, MappingContext& context)
{
    for (const std::string& entry : entries) {
        std::string uid;
        std::vector<std::string> values;
        for (const std::string& line : Lines(entry)) {
            if (StartsWithNoCase(line, "UID:"))
                uid = line.substr(4);
            else if (StartsWithNoCase(line, "EXDATE")) {
                const auto colon = line.find(':');
                if (colon == std::string::npos)
                    continue;
                const std::string list = line.substr(colon + 1);
                std::size_t at = 0;
                while (at <= list.size()) {
                    std::size_t end = list.find_first_of(";,", at);
                    if (end == std::string::npos)
                        end = list.size();
                    if (end > at)
                        values.push_back(list.substr(at, end - at));
                    at = end + 1;
                }
            }
        }
        if (values.size() > 1 && !uid.empty())
            context.rawExdates[uid] = values;
    }
}

// vCalendar's zone: TZ gives the standard offset, each DAYLIGHT line one period of summer time.
// libical ignores both, so floating times are turned into UTC here.
struct VCalendarZone {
    int standard = 0;  // minutes east of UTC
    struct Period {
        int offset = 0;
        struct icaltimetype start = icaltime_null_time(), end = icaltime_null_time();
    };
    std::vector<Period> daylight;
};

std::optional<int> ParseOffset(std::string v)
{
    v = v.substr(0, v.find_first_of(" ;"));
    if (v.empty() || (v[0] != '+' && v[0] != '-'))
        return std::nullopt;
    const int sign = v[0] == '-' ? -1 : 1;
    std::string digits;
    for (char c : v.substr(1))
        if (std::isdigit(static_cast<unsigned char>(c)))
            digits += c;
    if (digits.empty() || digits.size() > 4)
        return std::nullopt;
    const int hours = std::stoi(digits.size() <= 2 ? digits : digits.substr(0, digits.size() - 2));
    const int minutes = digits.size() <= 2 ? 0 : std::stoi(digits.substr(digits.size() - 2));
    return sign * (hours * 60 + minutes);
}

std::optional<VCalendarZone> ReadVCalendarZone(const std::string& header)
{
    std::optional<VCalendarZone> zone;
    for (const std::string& line : Lines(header)) {
        if (StartsWithNoCase(line, "TZ:")) {
            if (auto offset = ParseOffset(line.substr(3))) {
                if (!zone)
                    zone.emplace();
                zone->standard = *offset;
            }
        } else if (StartsWithNoCase(line, "DAYLIGHT:")) {
            std::vector<std::string> f;
            std::size_t at = 9;
            while (at <= line.size()) {
                std::size_t end = line.find(';', at);
                if (end == std::string::npos)
                    end = line.size();
                f.push_back(line.substr(at, end - at));
                at = end + 1;
            }
            if (f.size() >= 4 && Upper(f[0]) == "TRUE") {
                VCalendarZone::Period p;
                const auto offset = ParseOffset(f[1]);
                p.start = icaltime_from_string(f[2].c_str());
                p.end = icaltime_from_string(f[3].c_str());
                if (offset && !icaltime_is_null_time(p.start) && !icaltime_is_null_time(p.end)) {
                    p.offset = *offset;
                    if (!zone)
                        zone.emplace();
                    zone->daylight.push_back(p);
                }
            }
        }
    }
    return zone;
}

void ApplyVCalendarZone(icalcomponent* calendar, const VCalendarZone& zone)
{
    for (icalcomponent* ev = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); ev;
         ev = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
        for (icalproperty_kind kind : {ICAL_DTSTART_PROPERTY, ICAL_DTEND_PROPERTY, ICAL_EXDATE_PROPERTY, ICAL_RECURRENCEID_PROPERTY}) {
            for (icalproperty* p = icalcomponent_get_first_property(ev, kind); p; p = icalcomponent_get_next_property(ev, kind)) {
                icalvalue* value = icalproperty_get_value(p);
                if (!value || icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER))
                    continue;
                struct icaltimetype t = icalvalue_get_datetime(value);
                if (icaltime_is_null_time(t) || t.is_date || icaltime_is_utc(t))
                    continue;
                int offset = zone.standard;
                for (const auto& d : zone.daylight)
                    if (icaltime_compare(t, d.start) >= 0 && icaltime_compare(t, d.end) < 0)
                        offset = d.offset;
                t.zone = icaltimezone_get_utc_timezone();
                const time_t utc = icaltime_as_timet(t) - offset * 60;
                icalvalue_set_datetime(value, icaltime_from_timet_with_zone(utc, 0, icaltimezone_get_utc_timezone()));
            }
        }
    }
}

std::vector<Component> ParseVCalendar(const std::string& text, CalendarFile& result, MappingContext& context)
{
    static char audioUrl[] = "";
    static char audioType[] = "audio/basic";
    static char description[] = "Reminder";
    icalvcal_defaults defaults{audioUrl, audioType, description};

    const VCalendarParts parts = SplitVCalendar(text);
    RawExdates(parts.entries, context);
    const std::optional<VCalendarZone> zone = ReadVCalendarZone(parts.header);
    std::string header = parts.header;
    if (!StartsWithNoCase(header, "BEGIN:VCALENDAR"))
        header = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\n" + header;

    std::vector<Component> calendars;
    const std::size_t count = std::max<std::size_t>(parts.entries.size(), 1);
    for (std::size_t first = 0; first < count; first += kVCalendarPart) {
        std::string chunk = header;
        for (std::size_t i = first; i < std::min(parts.entries.size(), first + kVCalendarPart); ++i)
            chunk += parts.entries[i];
        chunk += "END:VCALENDAR\r\n";
        VObject* list = Parse_MIME(chunk.c_str(), static_cast<unsigned long>(chunk.size()));
        if (!list) {
            const std::string fixed = Repaired(chunk);
            list = Parse_MIME(fixed.c_str(), static_cast<unsigned long>(fixed.size()));
            if (list)
                result.warnings.push_back("the file had unfinished entries; they were closed where they broke off");
        }
        if (!list) {
            result.warnings.push_back("entries " + std::to_string(first + 1) + " to "
                                      + std::to_string(std::min(parts.entries.size(), first + kVCalendarPart))
                                      + " could not be read as vCalendar");
            continue;
        }
        for (VObject* o = list; o; o = nextVObjectInList(o)) {
            icalcomponent* converted = icalvcal_convert_with_defaults(o, &defaults);
            if (!converted)
                continue;
            if (zone)
                ApplyVCalendarZone(converted, *zone);
            calendars.emplace_back(converted);
        }
        cleanVObjects(list);
    }
    return calendars;
}

// --- vCalendar character sets ---

std::string DecodeQuotedPrintable(const std::string& v)
{
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '=' && i + 2 < v.size() + 0 && std::isxdigit(static_cast<unsigned char>(v[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(v[i + 2]))) {
            out += static_cast<char>(std::stoi(v.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += v[i];
        }
    }
    return out;
}

std::string EncodeQuotedPrintable(const std::string& v)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (char ch : v) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 33 && c <= 126 && c != '=')
            out += ch;
        else {
            out += '=';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Text in a named character set as UTF-8; empty when the set is unknown or the text does not
// decode.
std::optional<std::string> ToUtf8(const std::string& text, const std::string& charset)
{
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string in = text;
    std::string out(text.size() * 4 + 16, '\0');
    char* src = in.data();
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1))
        return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
}

std::vector<std::string> Split(const std::string& text, char by)
{
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at = text.find(by); at != std::string::npos; at = text.find(by, from)) {
        parts.push_back(text.substr(from, at - from));
        from = at + 1;
    }
    parts.push_back(text.substr(from));
    return parts;
}

// "NAME:" or "NAME;PARAMS:" at the start of a line, as a property line begins.
bool LooksLikePropertyLine(const std::string& line)
{
    std::size_t n = 0;
    while (n < line.size() && (std::isalnum(static_cast<unsigned char>(line[n])) || line[n] == '-'))
        ++n;
    return n > 0 && n < line.size() && (line[n] == ':' || line[n] == ';');
}

std::string DecodeBase64(const std::string& v)
{
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char ch : v) {
        int value;
        if (ch >= 'A' && ch <= 'Z')
            value = ch - 'A';
        else if (ch >= 'a' && ch <= 'z')
            value = ch - 'a' + 26;
        else if (ch >= '0' && ch <= '9')
            value = ch - '0' + 52;
        else if (ch == '+')
            value = 62;
        else if (ch == '/')
            value = 63;
        else
            continue;  // padding, blanks and line ends
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        if (++count == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>(bits >> 8);
            out += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    if (count == 3) {
        out += static_cast<char>(bits >> 10);
        out += static_cast<char>(bits >> 2);
    } else if (count == 2) {
        out += static_cast<char>(bits >> 4);
    }
    return out;
}

// vCalendar values may name their character set (CHARSET=...), which libical ignores. Each such
// value is turned into UTF-8 here, written back quoted-printable so that any byte survives.
// Quoted-printable values are written back encoded afresh too: libical's vCalendar parser loops
// for ever on a raw "name=value" after a ';' in such a value, and "=3B" reads the same.
std::string CleanVCalendarValues(const std::string& text, std::vector<std::string>& warnings)
{
    std::string out;
    const std::vector<std::string> lines = Lines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        const auto colon = line.find(':');
        if (colon == std::string::npos) {
            // Not a property line. One that names an encoding would put libical's parser into
            // that encoding for the lines after it: it is left out.
            if (!ContainsNoCase(line, "QUOTED-PRINTABLE") && !ContainsNoCase(line, "BASE64"))
                out += line + "\r\n";
            continue;
        }
        // The name and its parameters, and which encoding they name (also in the bare form
        // vCalendar allows, such as ";BASE64").
        std::vector<std::string> tokens = Split(line.substr(0, colon), ';');
        bool qp = false;
        std::size_t b64 = std::string::npos;
        for (std::size_t t = 1; t < tokens.size(); ++t) {
            // libical takes the encoding from any parameter's value, whatever its name.
            const std::string upper = Upper(tokens[t]);
            const std::string value = upper.substr(upper.find('=') == std::string::npos ? 0 : upper.find('=') + 1);
            if (value == "QUOTED-PRINTABLE")
                qp = true;
            else if (value == "BASE64" || upper == "ENCODING=B")
                b64 = t;
        }
        std::string raw;
        if (b64 != std::string::npos) {
            // Base64 data runs to an empty line. libical's parser waits for ever when that line
            // is missing, so the value is decoded here and handed on quoted-printable; it ends
            // at the empty line or at the next line that names a property.
            std::string data = line.substr(colon + 1);
            while (i + 1 < lines.size() && !lines[i + 1].empty() && !LooksLikePropertyLine(lines[i + 1]))
                data += lines[++i];
            if (i + 1 < lines.size() && lines[i + 1].empty())
                ++i;
            raw = DecodeBase64(data);
            tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(b64));
            qp = false;
        } else if (qp) {
            // Quoted-printable lines ending in '=' go on in the next line.
            while (!line.empty() && line.back() == '=' && i + 1 < lines.size())
                line = line.substr(0, line.size() - 1) + lines[++i];
            raw = DecodeQuotedPrintable(line.substr(colon + 1));
        } else {
            raw = line.substr(colon + 1);
        }
        std::size_t cs = 0;
        for (std::size_t t = 1; t < tokens.size() && !cs; ++t)
            if (Upper(tokens[t]).rfind("CHARSET=", 0) == 0)
                cs = t;
        if (cs) {
            const std::string charset = tokens[cs].substr(8);
            const auto utf8 = Upper(charset) == "UTF-8" ? std::optional<std::string>(raw) : ToUtf8(raw, charset);
            if (utf8) {
                raw = *utf8;
                tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(cs));
            } else {
                warnings.push_back("text in the character set " + charset + " could not be read; it was kept as it is");
            }
        } else if (!qp && b64 == std::string::npos && (raw.empty() || raw.back() != '=')) {
            // A plain value is left as it is, unless it ends in '=': after some garbled
            // parameters libical's parser takes that for a soft line break and loops for ever.
            out += line + "\r\n";
            continue;
        }
        std::string head = tokens.front();
        for (std::size_t t = 1; t < tokens.size(); ++t)
            head += ";" + tokens[t];
        // Written back quoted-printable and encoded afresh, so that any byte survives and no raw
        // ';', '=' or line end is left for libical's vCalendar parser: it loops for ever on a
        // raw ";name=value" in such a value, and on one that ends in a soft line break.
        if (!qp)
            head += ";ENCODING=QUOTED-PRINTABLE";
        out += head + ":" + EncodeQuotedPrintable(raw) + "\r\n";
    }
    return out;
}

// The file's own VERSION decides; only the lines before its first entry are looked at.
// The VTIMEZONE blocks of a file as it has them, by lower-case TZID.
std::map<std::string, std::string> RawZones(const std::string& text)
{
    std::map<std::string, std::string> zones;
    std::size_t at = 0;
    for (;;) {
        const std::size_t begin = text.find("BEGIN:VTIMEZONE", at);
        if (begin == std::string::npos)
            break;
        const std::size_t end = text.find("END:VTIMEZONE", begin);
        if (end == std::string::npos)
            break;
        const std::string block = text.substr(begin, end - begin);
        const std::size_t tz = block.find("\nTZID");
        if (tz != std::string::npos) {
            const std::size_t colon = block.find(':', tz);
            const std::size_t eol = block.find_first_of("\r\n", colon == std::string::npos ? tz + 1 : colon);
            if (colon != std::string::npos && eol != std::string::npos) {
                std::string id = block.substr(colon + 1, eol - colon - 1);
                if (id.size() >= 2 && id.front() == '"' && id.back() == '"')
                    id = id.substr(1, id.size() - 2);
                std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return std::tolower(c); });
                zones[id] = block;
            }
        }
        at = end + 1;
    }
    return zones;
}

// libical drops the blanks a value starts with; a description that starts indented keeps them as
// kLeadingBlank marks, which the mapping turns back into blanks.
void KeepLeadingBlanks(std::string& text)
{
    static const std::string kName = "DESCRIPTION";
    std::string out;
    std::size_t copied = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        if (end - at > kName.size() && strncasecmp(text.c_str() + at, kName.c_str(), kName.size()) == 0
            && (text[at + kName.size()] == ':' || text[at + kName.size()] == ';')) {
            // The value starts after the first colon outside a quoted parameter value.
            bool quoted = false;
            std::size_t colon = at + kName.size();
            for (; colon < end; ++colon) {
                if (text[colon] == '"')
                    quoted = !quoted;
                else if (text[colon] == ':' && !quoted)
                    break;
            }
            std::size_t blanks = colon + 1;
            while (blanks < end && text[blanks] == ' ')
                ++blanks;
            if (colon < end && blanks > colon + 1) {
                out.append(text, copied, colon + 1 - copied);
                for (std::size_t i = colon + 1; i < blanks; ++i)
                    out += kLeadingBlank;
                copied = blanks;
            }
        }
        at = end + 1;
    }
    if (copied == 0)
        return;
    out.append(text, copied, std::string::npos);
    text = std::move(out);
}

bool LooksLikeVCalendar(const std::string& text, int hint)
{
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, std::min<std::size_t>(end - at, 40));
        if (StartsWithNoCase(line, "VERSION:"))
            return line.find("1.0") != std::string::npos;
        if (StartsWithNoCase(line, "BEGIN:VEVENT") || StartsWithNoCase(line, "BEGIN:VTODO"))
            break;
        at = end + 1;
    }
    return hint == kFormatVCalendar;
}

std::string Reason(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

void Initialise()
{
    static const bool done = [] {
        // A malformed value must become an error property, never end the program.
        icalerror_set_errors_are_fatal(0);
        return true;
    }();
    (void)done;
}

// Counts an appointment and hands it on; what was worked around in it is told with the file,
// naming the event.
void Deliver(Appointment&& a, CalendarFile& result, std::vector<std::string>& notes, const AppointmentSink& sink)
{
    ++result.imported;
    if (!a.warnings.empty()) {
        const auto* subject = std::get_if<std::string>(a.Get(PropertySet::Tag, tag::Subject, PropType::String));
        const std::string name = subject && !subject->empty() ? "the event \"" + *subject + "\": " : "an event without a title: ";
        for (const std::string& w : a.warnings)
            notes.push_back(name + w);
    }
    if (sink)
        sink(std::move(a));
    else
        result.appointments.push_back(std::move(a));
}

// The reason given when a file yields no appointment.
void NothingImported(CalendarFile& result)
{
    auto skipped = std::find_if(result.warnings.begin(), result.warnings.end(),
                                [](const std::string& w) { return w.find("skipped") != std::string::npos; });
    result.error = skipped == result.warnings.end() ? "the file holds no events"
                                                    : "the file holds no event that can be imported: " + *skipped;
    if (result.skippedTodos || result.skippedJournals)
        result.error += " (" + std::to_string(result.skippedTodos) + " tasks and "
                        + std::to_string(result.skippedJournals) + " journal entries are not appointments)";
}

bool HasValidStart(icalcomponent* ev)
{
    icalproperty* dtstart = icalcomponent_get_first_property(ev, ICAL_DTSTART_PROPERTY);
    return dtstart && !icaltime_is_null_time(icalproperty_get_dtstart(dtstart));
}

std::string NoValidStart(icalcomponent* ev)
{
    const char* summary = icalcomponent_get_summary(ev);
    return std::string("the event \"") + (summary ? summary : "") + "\" has no valid start and was skipped";
}

// Reads a file held whole in memory: every component parsed at once. Files the scan cannot cut
// into series safely (vCalendar, unfinished files, events outside any VCALENDAR) are read so.
CalendarFile ReadWholeText(const std::string& raw, int formatHint, const AppointmentSink& sink)
{
    CalendarFile result;
    std::string text = raw;
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        result.error = "the file is empty";
        return result;
    }
    if (text.find('\0') != std::string::npos) {
        result.error = "the file holds binary data, not calendar text";
        return result;
    }
    if (!ContainsNoCase(text, "BEGIN:VCALENDAR") && !ContainsNoCase(text, "BEGIN:VEVENT")
        && !ContainsNoCase(text, "BEGIN:VTODO") && !ContainsNoCase(text, "BEGIN:VJOURNAL")) {
        result.error = "the file is not a calendar: it has no BEGIN:VCALENDAR";
        return result;
    }
    MappingContext context;
    context.vcalendar = LooksLikeVCalendar(text, formatHint);
    // Some writers put VERSION:1.0 on iCalendar text: zone parameters and rules in iCalendar's
    // syntax, which the vCalendar reader would drop.
    if (context.vcalendar && (ContainsNoCase(text, ";TZID=") || ContainsNoCase(text, "BEGIN:VTIMEZONE")
                              || ContainsNoCase(text, "RRULE:FREQ="))) {
        context.vcalendar = false;
        result.warnings.push_back("the file says it is vCalendar 1.0 but is written in iCalendar 2.0; it was read as iCalendar");
    }
    if (context.vcalendar && (ContainsNoCase(text, ";CHARSET=") || ContainsNoCase(text, "QUOTED-PRINTABLE")
                              || ContainsNoCase(text, "BASE64")))
        text = CleanVCalendarValues(text, result.warnings);
    if (!IsValidUtf8(text)) {
        // Text that is UTF-8 but for a few stray bytes keeps its characters; only those bytes are
        // read as Windows-1252, which is also how a file with no UTF-8 in it at all reads.
        std::size_t repaired = 0, multibyte = 0;
        text = RepairUtf8(text, &repaired, &multibyte);
        if (multibyte == 0)
            result.warnings.push_back("the file is not UTF-8; it was read as Windows-1252");
        else
            result.warnings.push_back("the file is UTF-8 but for " + std::to_string(repaired)
                                      + " stray byte(s), which were read as Windows-1252");
    }

    const auto now = std::chrono::system_clock::now();
    context.importTime = FileTimeFromUnix(std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());

    KeepLeadingBlanks(text);
    std::vector<Component> roots = context.vcalendar ? ParseVCalendar(text, result, context) : ParseICalendar(text, result);
    std::vector<icalcomponent*> calendars;
    for (const Component& root : roots)
        CollectCalendars(root.get(), calendars);
    if (calendars.empty()) {
        result.error = context.vcalendar ? "the file could not be read as vCalendar" : "the file could not be read as iCalendar";
        return result;
    }

    ZoneResolver& zones = ZoneResolver::Shared();
    zones.BeginFile();
    const std::map<std::string, std::string> rawZones = RawZones(text);
    struct Series {
        icalcomponent* master = nullptr;
        std::vector<icalcomponent*> overrides;
    };
    std::vector<std::string> order;
    std::map<std::string, Series> series;
    int unnamed = 0;
    for (icalcomponent* calendar : calendars) {
        zones.LoadDefinitions(calendar, &rawZones, &result.warnings);
        result.skippedTodos += icalcomponent_count_components(calendar, ICAL_VTODO_COMPONENT);
        result.skippedJournals += icalcomponent_count_components(calendar, ICAL_VJOURNAL_COMPONENT);
        if (icalproperty* method = icalcomponent_get_first_property(calendar, ICAL_METHOD_PROPERTY)) {
            const icalproperty_method m = icalproperty_get_method(method);
            if (m == ICAL_METHOD_CANCEL || m == ICAL_METHOD_REPLY || m == ICAL_METHOD_COUNTER) {
                result.warnings.push_back(std::string("a ") + icalproperty_method_to_string(m)
                                          + " message about an event, not an event, was skipped");
                continue;
            }
        }
        for (icalcomponent* ev = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); ev;
             ev = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
            if (!HasValidStart(ev)) {
                result.warnings.push_back(NoValidStart(ev));
                continue;
            }
            const char* uidText = icalcomponent_get_uid(ev);
            std::string uid = uidText ? uidText : "";
            if (uid.empty()) {
                uid = "\x01unnamed-" + std::to_string(++unnamed);
            }
            const bool isOverride = icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY) != nullptr;
            auto [it, added] = series.try_emplace(uid);
            if (added)
                order.push_back(uid);
            if (!isOverride && it->second.master) {
                result.warnings.push_back("two events share the UID " + uid + ": both were imported");
                const std::string again = uid + "\x01" + std::to_string(++unnamed);
                series[again].master = ev;
                order.push_back(again);
            } else if (isOverride) {
                it->second.overrides.push_back(ev);
            } else {
                it->second.master = ev;
            }
        }
    }

    auto emit = [&](Appointment&& a) { Deliver(std::move(a), result, result.warnings, sink); };
    for (const std::string& uid : order) {
        const Series& s = series[uid];
        if (!s.master && s.overrides.empty())
            continue;
        if (s.master) {
            MapSeries(s.master, s.overrides, zones, context, emit);
        } else {
            for (icalcomponent* o : s.overrides)
                MapSeries(nullptr, {o}, zones, context, emit);
        }
    }
    if (result.imported == 0)
        NothingImported(result);
    return result;
}

// --- reading a series at a time ---

// The text of a component as the parser gets it from the whole file: stray bytes read as
// Windows-1252 when the file needs it, indented descriptions marked, and every line ending in LF.
std::string ComponentText(std::string_view bytes, std::uint64_t offset, const LineLayout& layout, bool repair)
{
    std::string out;
    const bool allNewline = layout.lastNewline != UINT64_MAX && offset + bytes.size() <= layout.lastNewline + 1;
    if (!repair && allNewline) {
        out.assign(bytes);
        KeepLeadingBlanks(out);
    } else {
        out.reserve(bytes.size() + 16);
        ForEachLine(bytes, offset, layout, [&](std::string_view line, std::uint64_t at) {
            std::string l(line);
            if (repair && !IsValidUtf8(l)) {
                std::size_t repaired = 0, multibyte = 0;
                l = RepairUtf8(l, &repaired, &multibyte);
            }
            // Only a line that follows an LF can start a description, as the whole text is marked.
            if (at == layout.begin || (layout.lastNewline != UINT64_MAX && at <= layout.lastNewline + 1))
                KeepLeadingBlanks(l);
            if (!l.empty() && l.back() == '\r' && (layout.lastNewline == UINT64_MAX || at > layout.lastNewline))
                l.back() = '\n';
            out += l;
        });
    }
    if (out.empty() || out.back() != '\n')
        out += "\r\n";
    return out;
}

class SeriesReader {
public:
    SeriesReader(const TextSource& source, CalendarScan& scan, const AppointmentSink& sink, CalendarFile& result)
        : m_source(source)
        , m_scan(scan)
        , m_sink(sink)
        , m_result(result)
        , m_zones(ZoneResolver::Shared())
    {
        m_repair = scan.strayBytes > 0;
        const auto now = std::chrono::system_clock::now();
        m_context.importTime = FileTimeFromUnix(std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
    }

    // False when the file could not be read again.
    bool Read()
    {
        m_zones.BeginFile();
        if (!LoadCalendars())
            return false;
        LinkSeries(m_scan.events);
        for (std::uint32_t i = 0; i < m_scan.events.size(); ++i)
            if (!Sweep(i))
                return false;
        // The notes about the file's structure in file order, then those of the events as mapped.
        std::stable_sort(m_placed.begin(), m_placed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [at, note] : m_placed)
            m_result.warnings.push_back(std::move(note));
        for (std::string& note : m_mapped)
            m_result.warnings.push_back(std::move(note));
        return true;
    }

private:
    bool Text(std::uint64_t offset, std::uint64_t length, std::string& out)
    {
        m_buffer.resize(static_cast<std::size_t>(length));
        if (!m_source.Read(offset, m_buffer.size(), m_buffer.data()))
            return false;
        out += ComponentText(m_buffer, offset, m_scan.layout, m_repair);
        return true;
    }

    // Each calendar block's time zones, in file order as the whole file loads them, and whether
    // its events are messages about events instead.
    bool LoadCalendars()
    {
        std::map<std::string, std::string> raw;
        for (const ScannedCalendar& calendar : m_scan.calendars)
            for (const ScannedRange& zone : calendar.zones) {
                std::string text;
                if (!Text(zone.offset, zone.length, text))
                    return false;
                for (auto& [id, block] : RawZones(text))
                    raw[id] = std::move(block);
            }
        std::vector<bool> skipped(m_scan.calendars.size(), false);
        for (std::size_t k = 0; k < m_scan.calendars.size(); ++k) {
            const ScannedCalendar& calendar = m_scan.calendars[k];
            if (!calendar.zones.empty()) {
                std::string text = "BEGIN:VCALENDAR\r\n";
                for (const ScannedRange& zone : calendar.zones)
                    if (!Text(zone.offset, zone.length, text))
                        return false;
                text += "END:VCALENDAR\r\n";
                Component root(ParseText(text));
                std::vector<std::string> notes;
                m_zones.LoadDefinitions(root.get(), &raw, &notes);
                for (std::string& note : notes)
                    m_placed.emplace_back(calendar.offset, std::move(note));
            }
            if (!calendar.methods.empty()) {
                const std::string text = "BEGIN:VCALENDAR\r\n" + calendar.methods + "END:VCALENDAR\r\n";
                Component root(ParseText(m_repair ? AsUtf8(text) : text));
                icalproperty* method = root ? icalcomponent_get_first_property(root.get(), ICAL_METHOD_PROPERTY) : nullptr;
                const icalproperty_method m = method ? icalproperty_get_method(method) : ICAL_METHOD_NONE;
                if (m == ICAL_METHOD_CANCEL || m == ICAL_METHOD_REPLY || m == ICAL_METHOD_COUNTER) {
                    m_placed.emplace_back(calendar.offset, std::string("a ") + icalproperty_method_to_string(m)
                                                               + " message about an event, not an event, was skipped");
                    skipped[k] = true;
                }
            }
        }
        for (ScannedEvent& e : m_scan.events)
            if (skipped[e.calendar])
                e.flags |= ScannedEvent::kSkipped;
        m_result.skippedTodos = m_scan.todos;
        m_result.skippedJournals = m_scan.journals;
        return true;
    }

    struct Parsed {
        std::uint32_t index;
        icalcomponent* ev;
    };

    // Parses the events `indexes` (in file order) together, adding them to `out`.
    bool Parse(const std::vector<std::uint32_t>& indexes, std::vector<Component>& holders, std::vector<Parsed>& out)
    {
        std::string text = "BEGIN:VCALENDAR\r\n";
        for (std::uint32_t i : indexes)
            if (!Text(m_scan.events[i].offset, m_scan.events[i].length, text))
                return false;
        text += "END:VCALENDAR\r\n";
        holders.emplace_back(ParseText(text));
        icalcomponent* root = holders.back().get();
        std::size_t k = 0;
        for (icalcomponent* c = root ? icalcomponent_get_first_component(root, ICAL_ANY_COMPONENT) : nullptr; c && k < indexes.size();
             c = icalcomponent_get_next_component(root, ICAL_ANY_COMPONENT))
            out.push_back({indexes[k++], c});
        return true;
    }

    void Map(icalcomponent* master, const std::vector<icalcomponent*>& overrides)
    {
        MapSeries(master, overrides, m_zones, m_context,
                  [&](Appointment&& a) { Deliver(std::move(a), m_result, m_mapped, m_sink); });
    }

    // Event `i` in file order: the series it starts, or nothing when it was read with an earlier one.
    bool Sweep(std::uint32_t i)
    {
        std::vector<ScannedEvent>& events = m_scan.events;
        ScannedEvent& e = events[i];
        if (e.flags & (ScannedEvent::kSkipped | ScannedEvent::kDone))
            return true;
        std::vector<Component> holders;
        std::vector<Parsed> parsed;
        if (e.uidHash == 0 || (e.flags & ScannedEvent::kLaterMaster)) {
            // An event without a UID, or one more event without RECURRENCE-ID after the master
            // of its UID: a series of its own.
            e.flags |= ScannedEvent::kDone;
            if (!Parse({i}, holders, parsed))
                return false;
            if (parsed.empty())
                return true;
            icalcomponent* ev = parsed[0].ev;
            if (!HasValidStart(ev)) {
                m_placed.emplace_back(e.offset, NoValidStart(ev));
                return true;
            }
            const bool isOverride = icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY) != nullptr;
            const char* uid = icalcomponent_get_uid(ev);
            if ((e.flags & ScannedEvent::kLaterMaster) && !isOverride && uid && *uid)
                m_placed.emplace_back(e.offset, "two events share the UID " + std::string(uid) + ": both were imported");
            if (isOverride)
                Map(nullptr, {ev});
            else
                Map(ev, {});
            return true;
        }

        // The first event left of its UID: read with the overrides of the UID and its first
        // master, or the first master with a valid start.
        std::vector<std::uint32_t> members;
        for (std::uint32_t j = i; j != UINT32_MAX; j = events[j].next)
            if (!(events[j].flags & ScannedEvent::kDone))
                members.push_back(j);
        std::vector<std::uint32_t> part;
        std::size_t nextMaster = members.size();
        bool haveMaster = false;
        for (std::size_t k = 0; k < members.size(); ++k) {
            if (events[members[k]].flags & ScannedEvent::kOverride)
                part.push_back(members[k]);
            else if (!haveMaster)
                haveMaster = true, part.push_back(members[k]);
            else if (nextMaster == members.size())
                nextMaster = k;
        }
        if (!Parse(part, holders, parsed))
            return false;
        auto validMaster = [&] {
            return std::any_of(parsed.begin(), parsed.end(), [&](const Parsed& p) {
                return !(events[p.index].flags & ScannedEvent::kOverride) && HasValidStart(p.ev);
            });
        };
        while (!validMaster() && nextMaster < members.size()) {
            if (!Parse({members[nextMaster]}, holders, parsed))
                return false;
            do
                ++nextMaster;
            while (nextMaster < members.size() && (events[members[nextMaster]].flags & ScannedEvent::kOverride));
        }
        std::sort(parsed.begin(), parsed.end(), [](const Parsed& a, const Parsed& b) { return a.index < b.index; });
        std::vector<Parsed> valid;
        for (const Parsed& p : parsed) {
            if (HasValidStart(p.ev)) {
                valid.push_back(p);
            } else {
                m_placed.emplace_back(events[p.index].offset, NoValidStart(p.ev));
                events[p.index].flags |= ScannedEvent::kDone;
            }
        }
        // A series stands where its first event with a valid start does: when that is further on,
        // the series is read there.
        if (valid.empty() || valid.front().index != i)
            return true;
        for (const Parsed& p : valid)
            events[p.index].flags |= ScannedEvent::kDone;
        for (std::size_t k = nextMaster; k < members.size(); ++k)
            if (!(events[members[k]].flags & (ScannedEvent::kOverride | ScannedEvent::kDone)))
                events[members[k]].flags |= ScannedEvent::kLaterMaster;

        // As the whole file is read: by UID, the first master and the overrides together.
        struct Series {
            icalcomponent* master = nullptr;
            std::vector<icalcomponent*> overrides;
        };
        std::vector<std::string> order;
        std::map<std::string, Series> series;
        for (const Parsed& p : valid) {
            const char* uidText = icalcomponent_get_uid(p.ev);
            std::string uid = uidText ? uidText : "";
            if (uid.empty())
                uid = "\x01unnamed-" + std::to_string(++m_unnamed);
            const bool isOverride = icalcomponent_get_first_property(p.ev, ICAL_RECURRENCEID_PROPERTY) != nullptr;
            auto [it, added] = series.try_emplace(uid);
            if (added)
                order.push_back(uid);
            if (!isOverride && it->second.master) {
                m_placed.emplace_back(events[p.index].offset, "two events share the UID " + uid + ": both were imported");
                const std::string again = uid + "\x01" + std::to_string(++m_unnamed);
                series[again].master = p.ev;
                order.push_back(again);
            } else if (isOverride) {
                it->second.overrides.push_back(p.ev);
            } else {
                it->second.master = p.ev;
            }
        }
        for (const std::string& uid : order) {
            const Series& s = series[uid];
            if (s.master) {
                Map(s.master, s.overrides);
            } else {
                for (icalcomponent* o : s.overrides)
                    Map(nullptr, {o});
            }
        }
        return true;
    }

    const TextSource& m_source;
    CalendarScan& m_scan;
    const AppointmentSink& m_sink;
    CalendarFile& m_result;
    ZoneResolver& m_zones;
    MappingContext m_context;
    bool m_repair = false;
    std::string m_buffer;
    int m_unnamed = 0;
    std::vector<std::pair<std::uint64_t, std::string>> m_placed;  // by where in the file they arose
    std::vector<std::string> m_mapped;                            // about events, as mapped
};

// Reads a calendar from `source`: a series at a time where the scan allows it, else whole, the
// text got from `whole`.
CalendarFile ReadSource(const TextSource& source, int formatHint, const AppointmentSink& sink,
                        const std::function<CalendarFile()>& whole)
{
    Initialise();
    CalendarScan scan = ScanCalendar(source);
    CalendarFile result;
    if (scan.readError) {
        result.error = "the file cannot be read";
        return result;
    }
    if (scan.blank) {
        result.error = "the file is empty";
        return result;
    }
    if (scan.nul) {
        result.error = "the file holds binary data, not calendar text";
        return result;
    }
    if (!scan.hasVCalendar && !scan.hasVEvent && !scan.hasVTodo && !scan.hasVJournal) {
        result.error = "the file is not a calendar: it has no BEGIN:VCALENDAR";
        return result;
    }
    bool vcalendar = scan.versionSays < 0 ? formatHint == kFormatVCalendar : scan.versionSays == 1;
    if (vcalendar && (scan.hasTzid || scan.hasVTimezone || scan.hasRrule)) {
        vcalendar = false;
        result.warnings.push_back("the file says it is vCalendar 1.0 but is written in iCalendar 2.0; it was read as iCalendar");
    }
    if (vcalendar || !scan.hasVCalendar || !scan.wellFormed)
        return whole();
    if (scan.strayBytes > 0) {
        if (scan.multibyteCharacters == 0)
            result.warnings.push_back("the file is not UTF-8; it was read as Windows-1252");
        else
            result.warnings.push_back("the file is UTF-8 but for " + std::to_string(scan.strayBytes)
                                      + " stray byte(s), which were read as Windows-1252");
    }
    SeriesReader reader(source, scan, sink, result);
    if (!reader.Read()) {
        result.error = "the file cannot be read: it changed while it was imported";
        return result;
    }
    if (result.imported == 0)
        NothingImported(result);
    return result;
}

}  // namespace

CalendarFile ReadCalendarFile(const std::string& path, int formatHint, const AppointmentSink& sink)
{
    CalendarFile result;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        result.error = Reason("the file cannot be opened");
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.error = "it is not a regular file";
        return result;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaxFileSize) {
        result.error = "the file is larger than 512 MB, more than any calendar holds";
        return result;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.error = Reason("the file cannot be opened");
        return result;
    }
    const FileSource source(fd, static_cast<std::uint64_t>(st.st_size));
    result = ReadSource(source, formatHint, sink, [&] {
        std::string text(static_cast<std::size_t>(st.st_size), '\0');
        if (!source.Read(0, text.size(), text.data())) {
            CalendarFile failed;
            failed.error = Reason("the file cannot be read");
            return failed;
        }
        return ReadWholeText(text, formatHint, sink);
    });
    ::close(fd);
    return result;
}

CalendarFile ReadCalendarText(const std::string& text, int formatHint, const std::string& name,
                              const AppointmentSink& sink)
{
    (void)name;
    return ReadSource(MemorySource(text), formatHint, sink, [&] { return ReadWholeText(text, formatHint, sink); });
}

}  // namespace cal
