#include "Appointment.h"
#include "CalendarScan.h"
#include "EventLimits.h"
#include "EventMapper.h"
#include "TextCodec.h"
#include "TimeZones.h"
#include "platform/Platform.h"

#include <libical/ical.h>
// icalvcal.h declares its functions without C linkage for C++.
extern "C" {
#include <libical/icalvcal.h>
}
#include <libical/vcc.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <unordered_set>
#include <memory>
#include <new>
#include <functional>
#include <utility>

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#else
#include <iconv.h>
#endif

namespace cal {

namespace {

// Files larger than this are refused rather than read whole into memory.
constexpr std::uint64_t kMaxFileSize = 512ull << 20;

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
class Repairer {
public:
    // Adds `line` to `out`, with the ends of what it closes before it.
    void Line(const std::string& line, std::string& out)
    {
        if (StartsWithNoCase(line, "BEGIN:")) {
            const std::string name = Upper(line.substr(6));
            // A new event while one is still open: the open one ends here.
            if (!m_open.empty() && (name == "VEVENT" || name == "VTODO" || name == "VJOURNAL") && m_open.back() == name) {
                out += "END:" + name + "\r\n";
                m_open.pop_back();
            }
            m_open.push_back(name);
        } else if (StartsWithNoCase(line, "END:")) {
            const std::string name = Upper(line.substr(4));
            while (!m_open.empty() && m_open.back() != name) {
                out += "END:" + m_open.back() + "\r\n";
                m_open.pop_back();
            }
            if (m_open.empty())
                return;
            m_open.pop_back();
        }
        out += line + "\r\n";
    }
    // Closes what is still open.
    void End(std::string& out)
    {
        while (!m_open.empty()) {
            out += "END:" + m_open.back() + "\r\n";
            m_open.pop_back();
        }
    }

private:
    std::vector<std::string> m_open;
};

std::string Repaired(const std::string& text)
{
    std::string out;
    Repairer repairer;
    for (const std::string& line : Lines(text))
        repairer.Line(line, out);
    repairer.End(out);
    return out;
}

// The components whose children are the file's events: every VCALENDAR, also one inside
// another, and then the file itself when it holds events outside any VCALENDAR.
void CollectCalendars(icalcomponent* root, std::vector<icalcomponent*>& out)
{
    const bool rootIsCalendar = icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT;
    std::vector<icalcomponent*> pending, children;
    auto calendarsIn = [&](icalcomponent* c) {
        children.clear();
        for (icalcomponent* child = icalcomponent_get_first_component(c, ICAL_VCALENDAR_COMPONENT); child;
             child = icalcomponent_get_next_component(c, ICAL_VCALENDAR_COMPONENT))
            children.push_back(child);
        pending.insert(pending.end(), children.rbegin(), children.rend());
    };
    if (rootIsCalendar)
        pending.push_back(root);
    else
        calendarsIn(root);
    while (!pending.empty()) {
        icalcomponent* calendar = pending.back();
        pending.pop_back();
        out.push_back(calendar);
        calendarsIn(calendar);
    }
    if (!rootIsCalendar
        && (icalcomponent_count_components(root, ICAL_VEVENT_COMPONENT) || icalcomponent_count_components(root, ICAL_VTODO_COMPONENT)
            || icalcomponent_count_components(root, ICAL_VJOURNAL_COMPONENT)))
        out.push_back(root);
}

// Hands libical the text a line at a time, as its string parser does, but looks for the end of
// a line only within the piece it copies: libical's own generator scans to the end of the line
// on every call, which makes one long line (a large body) take quadratic time.
struct TextLines {
    const char* at;
    const char* end;
};

char* NextLine(char* out, std::size_t size, void* data)
{
    auto* lines = static_cast<TextLines*>(data);
    if (lines->at >= lines->end || size < 2)
        return nullptr;
    std::size_t n = std::min<std::size_t>(size - 1, lines->end - lines->at);
    if (const void* stop = std::memchr(lines->at, '\n', n))
        n = static_cast<const char*>(stop) - lines->at + 1;
    std::memcpy(out, lines->at, n);
    out[n] = '\0';
    lines->at += n;
    return out;
}

icalcomponent* ParseText(const std::string& text)
{
    // libical stops at a NUL byte; so does this.
    TextLines lines{text.c_str(), text.c_str() + std::strlen(text.c_str())};
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

// Cuts vCalendar lines, one at a time, into calendar blocks (BEGIN:VCALENDAR ... END:VCALENDAR,
// one after another or one inside another), their header lines and their entries (BEGIN:VEVENT
// ... END:VEVENT, and tasks). Blocks are numbered in the order they begin; lines outside any block
// belong to one more, kOutside. Each entry is handed on as it ends; an entry still open when its
// block ends, or when a block begins, ends there, and one the file leaves open ends with the file.
class VCalendarSplitter {
public:
    static constexpr std::uint32_t kOutside = UINT32_MAX;

    struct Handlers {
        std::function<void(std::uint32_t block, std::size_t line)> blockBegins;  // line: its BEGIN:VCALENDAR
        std::function<void(std::uint32_t block, std::string&& line)> headerLine;
        std::function<void(std::uint32_t block, std::size_t line, std::string&& entry)> entryDone;
        std::function<void(std::uint32_t block)> blockEnds;
    };

    explicit VCalendarSplitter(Handlers handlers)
        : m_handlers(std::move(handlers))
    {
    }

    // Takes line `number` (from 1) of the file.
    void Line(std::string line, std::size_t number)
    {
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
            return;
        if (StartsWithNoCase(line, "BEGIN:VCALENDAR")) {
            EntryEnds();
            m_open.push_back(m_next++);
            if (m_handlers.blockBegins)
                m_handlers.blockBegins(m_open.back(), number);
            return;
        }
        if (StartsWithNoCase(line, "END:VCALENDAR")) {
            EntryEnds();
            if (!m_open.empty()) {
                if (m_handlers.blockEnds)
                    m_handlers.blockEnds(m_open.back());
                m_open.pop_back();
            }
            return;
        }
        if (m_depth == 0 && (StartsWithNoCase(line, "BEGIN:VEVENT") || StartsWithNoCase(line, "BEGIN:VTODO"))) {
            m_depth = 1;
            m_entryLine = number;
        } else if (m_depth > 0 && StartsWithNoCase(line, "BEGIN:")) {
            ++m_depth;
        }
        if (m_depth > 0) {
            line += "\r\n";
            if (m_limiter)
                m_limiter->Add(line, m_entry);
            else
                m_entry += line;
            if (StartsWithNoCase(line, "END:") && --m_depth == 0)
                EntryEnds();
        } else if (m_handlers.headerLine) {
            m_handlers.headerLine(Block(), std::move(line));
        }
    }

    void End()
    {
        EntryEnds();
        for (; !m_open.empty(); m_open.pop_back())
            if (m_handlers.blockEnds)
                m_handlers.blockEnds(m_open.back());
    }

    // Entries are cut down by `limiter` as they are read.
    void Limit(EventLimiter* limiter) { m_limiter = limiter; }

private:
    std::uint32_t Block() const { return m_open.empty() ? kOutside : m_open.back(); }

    void EntryEnds()
    {
        if (m_depth == 0 && m_entry.empty())
            return;
        m_depth = 0;
        if (m_limiter)
            m_limiter->Flush();
        if (m_handlers.entryDone)
            m_handlers.entryDone(Block(), m_entryLine, std::move(m_entry));
        m_entry.clear();
    }

    Handlers m_handlers;
    EventLimiter* m_limiter = nullptr;
    std::vector<std::uint32_t> m_open;  // the blocks open, innermost last
    std::uint32_t m_next = 0;
    std::string m_entry;
    std::size_t m_entryLine = 0;
    int m_depth = 0;
};

// vCalendar lists EXDATE values with ';'; libical keeps only a single value, so the lists are
// read here, by the entry's UID.
void RawExdatesOf(const std::string& entry, std::map<std::string, std::vector<std::string>>& out)
{
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
        out[uid] = values;
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
                const std::int64_t utc = UnixOfUtcFields(t) - offset * 60;
                icalvalue_set_datetime(value, UtcFieldsOf(utc));
            }
        }
    }
}

// What libical's vCalendar parser is handed of a block's header: its lines but TZ and DAYLIGHT,
// which it ignores (they are read here) and which count towards what it can take.
std::string VCalendarHeader(const std::string& header, bool outside)
{
    std::string out = outside ? "BEGIN:VCALENDAR\r\nVERSION:1.0\r\n" : "BEGIN:VCALENDAR\r\n";
    for (const std::string& line : Lines(header))
        if (!StartsWithNoCase(line, "TZ:") && !StartsWithNoCase(line, "DAYLIGHT:"))
            out += line + "\r\n";
    return out;
}

// The vCalendar parser's text of a calendar: the header, the entries and the end. Empty lines
// follow: base64 data runs to one, and without one libical's parser hands out values for ever at
// the end of the text; any that the cleaning leaves ends there.
std::string VCalendarChunk(const std::string& header, const std::vector<std::string>& entries, std::size_t from,
                           std::size_t to)
{
    std::string chunk = header;
    for (std::size_t k = from; k < to; ++k)
        chunk += entries[k];
    chunk += "END:VCALENDAR\r\n\r\n\r\n";
    return chunk;
}

// libical's vCalendar parser reads only so many items (lines and entries) into one component:
// its parser stack holds 500. A calendar is handed to it this many at most.
constexpr std::size_t kVCalendarItems = 400;

// Reads entries [from, to) of a block with its header, adding the calendars read to `calendars`;
// entries that cannot be read are found by halves and counted in `failed`.
void ParseVCalendarEntries(const std::string& header, const std::vector<std::string>& entries, std::size_t from,
                           std::size_t to, const std::optional<VCalendarZone>& zone, bool& repaired, std::size_t& failed,
                           std::vector<Component>& calendars)
{
    static char audioUrl[] = "";
    static char audioType[] = "audio/basic";
    static char description[] = "Reminder";
    icalvcal_defaults defaults{audioUrl, audioType, description};

    const std::string chunk = VCalendarChunk(header, entries, from, to);
    VObject* list = Parse_MIME(chunk.c_str(), static_cast<unsigned long>(chunk.size()));
    if (!list) {
        const std::string fixed = Repaired(chunk);
        list = Parse_MIME(fixed.c_str(), static_cast<unsigned long>(fixed.size()));
        repaired |= list != nullptr;
    }
    if (!list) {
        if (to - from == 1) {
            ++failed;
        } else {
            const std::size_t half = from + (to - from) / 2;
            ParseVCalendarEntries(header, entries, from, half, zone, repaired, failed, calendars);
            ParseVCalendarEntries(header, entries, half, to, zone, repaired, failed, calendars);
        }
        return;
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

// Whether libical's vCalendar parser reads a header with no entries.
bool VCalendarHeaderReads(const std::string& header)
{
    const std::string chunk = VCalendarChunk(header, {}, 0, 0);
    VObject* list = Parse_MIME(chunk.c_str(), static_cast<unsigned long>(chunk.size()));
    if (list)
        cleanVObjects(list);
    return list != nullptr;
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

#ifdef _WIN32
// Windows has no iconv: a character set's name is looked up as a code page, and the text is
// decoded by MultiByteToWideChar, refusing what does not decode as iconv does. UTF-8, UTF-16 and
// UTF-32 are checked and decoded here (MultiByteToWideChar takes neither UTF-16 nor UTF-32).

// The name in lower case without '-', '_', ' ' and '.': "ISO_8859-1" and "iso88591" alike.
std::string CharsetKey(const std::string& charset)
{
    std::string key;
    for (char c : charset)
        if (c != '-' && c != '_' && c != ' ' && c != '.')
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

unsigned CodePageOf(const std::string& key)
{
    static const std::map<std::string, unsigned> pages = {
        {"usascii", 20127}, {"ascii", 20127}, {"ansix341968", 20127}, {"646", 20127},
        {"iso88591", 28591}, {"latin1", 28591}, {"l1", 28591}, {"iso885911987", 28591},
        {"iso88592", 28592}, {"latin2", 28592}, {"iso88593", 28593}, {"latin3", 28593},
        {"iso88594", 28594}, {"latin4", 28594}, {"iso88595", 28595}, {"cyrillic", 28595},
        {"iso88596", 28596}, {"arabic", 28596}, {"iso88597", 28597}, {"greek", 28597},
        {"iso88598", 28598}, {"hebrew", 28598}, {"iso88598i", 38598}, {"iso88599", 28599}, {"latin5", 28599},
        {"iso885913", 28603}, {"latin7", 28603}, {"iso885915", 28605}, {"latin9", 28605},
        {"windows1250", 1250}, {"cp1250", 1250}, {"windows1251", 1251}, {"cp1251", 1251},
        {"windows1252", 1252}, {"cp1252", 1252}, {"windows1253", 1253}, {"cp1253", 1253},
        {"windows1254", 1254}, {"cp1254", 1254}, {"windows1255", 1255}, {"cp1255", 1255},
        {"windows1256", 1256}, {"cp1256", 1256}, {"windows1257", 1257}, {"cp1257", 1257},
        {"windows1258", 1258}, {"cp1258", 1258}, {"windows874", 874}, {"cp874", 874}, {"tis620", 874},
        {"cp437", 437}, {"ibm437", 437}, {"cp850", 850}, {"ibm850", 850}, {"cp852", 852}, {"ibm852", 852},
        {"cp866", 866}, {"ibm866", 866}, {"koi8r", 20866}, {"koi8u", 21866},
        {"macintosh", 10000}, {"macroman", 10000}, {"mac", 10000},
        {"shiftjis", 932}, {"sjis", 932}, {"mskanji", 932}, {"cp932", 932}, {"windows31j", 932},
        {"eucjp", 20932}, {"iso2022jp", 50220},
        {"gb2312", 936}, {"euccn", 936}, {"gbk", 936}, {"cp936", 936}, {"gb18030", 54936},
        {"big5", 950}, {"cp950", 950}, {"big5hkscs", 950},
        {"euckr", 949}, {"cp949", 949}, {"ksc56011987", 949}, {"uhc", 949},
    };
    const auto it = pages.find(key);
    return it == pages.end() ? 0 : it->second;
}

// Strict UTF-8, as iconv reads it: no overlong forms, no surrogates, nothing past U+10FFFF.
bool ValidUtf8(std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = s[i];
        std::size_t len = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (len == 0 || i + len > text.size())
            return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
        if ((c == 0xE0 && s[i + 1] < 0xA0) || (c == 0xED && s[i + 1] >= 0xA0) || (c == 0xF0 && s[i + 1] < 0x90)
            || (c == 0xF4 && s[i + 1] >= 0x90))
            return false;
        i += len;
    }
    return true;
}

// UTF-16 (unit 2) or UTF-32 (unit 4) in the byte order given, or after a byte-order mark (big
// endian without one, as iconv reads "UTF-16"); nothing for lone surrogates or stray bytes.
std::optional<std::wstring> DecodeUtf16Or32(std::string_view text, std::size_t unit, int order)
{
    if (text.size() % unit)
        return std::nullopt;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    auto at = [&](std::size_t i, bool big) -> std::uint32_t {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < unit; ++k)
            v |= static_cast<std::uint32_t>(s[i + (big ? unit - 1 - k : k)]) << (8 * k);
        return v;
    };
    std::size_t i = 0;
    bool big = order >= 0;
    if (order == 0 && text.size() >= unit) {
        if (at(0, true) == 0xFEFF)
            i = unit;
        else if (at(0, false) == 0xFEFF) {
            big = false;
            i = unit;
        }
    }
    std::wstring out;
    for (; i < text.size(); i += unit) {
        std::uint32_t v = at(i, big);
        if (unit == 2) {
            if (v >= 0xDC00 && v <= 0xDFFF)
                return std::nullopt;
            if (v >= 0xD800 && v <= 0xDBFF) {
                if (i + 2 >= text.size())
                    return std::nullopt;
                const std::uint32_t low = at(i + 2, big);
                if (low < 0xDC00 || low > 0xDFFF)
                    return std::nullopt;
                out += static_cast<wchar_t>(v);
                out += static_cast<wchar_t>(low);
                i += 2;
                continue;
            }
            out += static_cast<wchar_t>(v);
        } else {
            if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
                return std::nullopt;
            if (v >= 0x10000) {
                v -= 0x10000;
                out += static_cast<wchar_t>(0xD800 + (v >> 10));
                out += static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
            } else {
                out += static_cast<wchar_t>(v);
            }
        }
    }
    return out;
}

// Text in a named character set as UTF-8; empty when the set is unknown or the text does not
// decode.
std::optional<std::string> ToUtf8(const std::string& text, const std::string& charset)
{
    const std::string key = CharsetKey(charset);
    if (key == "utf8")
        return ValidUtf8(text) ? std::optional<std::string>(text) : std::nullopt;
    std::optional<std::wstring> wide;
    if (key == "utf16" || key == "ucs2" || key == "utf16le" || key == "utf16be" || key == "ucs2le" || key == "ucs2be")
        wide = DecodeUtf16Or32(text, 2, key.ends_with("le") ? -1 : key.ends_with("be") ? 1 : 0);
    else if (key == "utf32" || key == "ucs4" || key == "utf32le" || key == "utf32be")
        wide = DecodeUtf16Or32(text, 4, key.ends_with("le") ? -1 : key.ends_with("be") ? 1 : 0);
    else {
        const unsigned page = CodePageOf(key);
        if (page == 0)
            return std::nullopt;
        if (text.empty())
            return std::string();
        if (text.size() > 0x7FFFFFFF)
            return std::nullopt;
        // The ISO-2022 pages take no flags; the others refuse invalid input with this one.
        const DWORD flags = page == 50220 ? 0 : MB_ERR_INVALID_CHARS;
        const int n = MultiByteToWideChar(page, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
        if (n <= 0)
            return std::nullopt;
        wide.emplace(static_cast<std::size_t>(n), L'\0');
        if (MultiByteToWideChar(page, flags, text.data(), static_cast<int>(text.size()), wide->data(), n) != n)
            return std::nullopt;
    }
    if (!wide)
        return std::nullopt;
    return platform::Utf8FromWide(*wide);
}
#else
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
#endif

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

// Lines handed out one at a time, with a look at the next.
class LineFeed {
public:
    explicit LineFeed(std::function<bool(std::string&)> next)
        : m_next(std::move(next))
    {
        m_more = m_next(m_ahead);
    }
    bool More() const { return m_more; }
    const std::string& Ahead() const { return m_ahead; }
    std::string Take()
    {
        std::string line = std::move(m_ahead);
        m_ahead.clear();
        m_more = m_next(m_ahead);
        return line;
    }

private:
    std::function<bool(std::string&)> m_next;
    std::string m_ahead;
    bool m_more = false;
};

std::string Trimmed(const std::string& s)
{
    const std::size_t first = s.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Whether `text` holds "QP" as a parameter's name or value: libical's vCalendar parser reads it
// as QUOTED-PRINTABLE.
bool NamesQp(const std::string& text)
{
    for (std::size_t at = 0; (at = text.find_first_of(";=", at)) != std::string::npos; ++at) {
        std::size_t word = text.find_first_not_of(" \t", at + 1);
        if (word != std::string::npos && word + 2 <= text.size() && Upper(text.substr(word, 2)) == "QP") {
            const std::size_t after = text.find_first_not_of(" \t", word + 2);
            if (after == std::string::npos || text[after] == ';' || text[after] == ':' || text[after] == '=')
                return true;
        }
    }
    return false;
}

// vCalendar values may name their character set (CHARSET=...), which libical ignores. Each such
// value is turned into UTF-8 here, written back quoted-printable so that any byte survives.
// Quoted-printable values are written back encoded afresh too: libical's vCalendar parser loops
// for ever on a raw "name=value" after a ';' in such a value, and "=3B" reads the same.
// Cleans the next line of `feed` (and the lines its value goes on in) into `out`.
void CleanNextLine(LineFeed& feed, std::string& out, std::vector<std::string>& warnings)
{
    std::string line = feed.Take();
    // libical's vCalendar parser reads a property's name and parameters on across line ends up
    // to the colon: a line that starts a property and has none is joined with the next, as it
    // reads them, so that the encoding a parameter there names is seen.
    constexpr std::size_t kJoinedMax = 1u << 16;
    if (LooksLikePropertyLine(line) && line[line.find_first_of(":;")] == ';')
        while (line.find(':') == std::string::npos && line.size() < kJoinedMax && feed.More() && !feed.Ahead().empty()) {
            const std::string next = feed.Take();
            const std::size_t start = next.find_first_not_of(" \t");
            if (start != std::string::npos)
                line.append(next, start, std::string::npos);
        }
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
        // Not a property line. One that names an encoding would put libical's parser into
        // that encoding for the lines after it: it is left out.
        if (!ContainsNoCase(line, "QUOTED-PRINTABLE") && !ContainsNoCase(line, "BASE64") && !NamesQp(line))
            out += line + "\r\n";
        return;
    }
    // The name and its parameters, and which encoding they name (also in the bare form
    // vCalendar allows, such as ";BASE64").
    std::vector<std::string> tokens = Split(line.substr(0, colon), ';');
    bool qp = false;
    std::size_t b64 = std::string::npos;
    for (std::size_t t = 1; t < tokens.size(); ++t) {
        // libical takes the encoding from any parameter's name or value, "QP" standing for
        // quoted-printable.
        const std::string upper = Upper(tokens[t]);
        const std::size_t eq = upper.find('=');
        for (std::string word : {upper.substr(0, eq), eq == std::string::npos ? std::string() : upper.substr(eq + 1)}) {
            word = Trimmed(word);
            if (word == "QUOTED-PRINTABLE" || word == "QP")
                qp = true;
            else if (word == "BASE64")
                b64 = t;
        }
        if (Trimmed(upper) == "ENCODING=B")
            b64 = t;
    }
    std::string raw;
    if (b64 != std::string::npos) {
        // Base64 data runs to an empty line. libical's parser waits for ever when that line
        // is missing, so the value is decoded here and handed on quoted-printable; it ends
        // at the empty line or at the next line that names a property.
        std::string data = line.substr(colon + 1);
        while (feed.More() && !feed.Ahead().empty() && !LooksLikePropertyLine(feed.Ahead())) {
            const std::string next = feed.Take();
            if (data.size() < limits::kReadLineBytes)
                data += next;
        }
        if (feed.More() && feed.Ahead().empty())
            feed.Take();
        raw = DecodeBase64(data);
        tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(b64));
        qp = false;
    } else if (qp) {
        // Quoted-printable lines ending in '=' go on in the next line; past
        // limits::kReadLineBytes the rest of the value is passed over.
        while (!line.empty() && line.back() == '=' && feed.More()) {
            line.pop_back();
            const std::string next = feed.Take();
            if (line.size() < limits::kReadLineBytes)
                line += next;
            else if (next.empty() || next.back() != '=')
                break;
            else
                line += '=';
        }
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
        return;
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
        AddRawZone(zones, text.substr(begin, end - begin));
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

// Adds a note about the file; past limits::kNotes of a kind only their number is kept, as a
// file of a million events could otherwise bring a million notes.
void AddNote(std::vector<std::string>& notes, std::string note, CalendarFile& result)
{
    if (notes.size() < limits::kNotes)
        notes.push_back(std::move(note));
    else
        ++result.notesLeftOut;
}

// The count of the notes left out, as a note of its own.
void CountNotesLeftOut(CalendarFile& result)
{
    if (result.notesLeftOut)
        result.warnings.push_back(std::to_string(result.notesLeftOut) + " further notes were left out: a file keeps "
                                  + std::to_string(limits::kNotes) + " of each kind");
}

// libical writes some complaints about what it reads (an END before any BEGIN, a component
// attached twice) to standard error itself. While a file is read, standard error is a stream of
// this reader's and what libical writes there becomes the file's notes; while an appointment is
// handed on, and after, it is standard error again.
class LibraryMessages {
public:
#ifdef _WIN32
    // stderr cannot be replaced by a stream of ours on Windows: descriptor 2 itself is pointed
    // at a temporary file of this reader's, read back when the file is done.
    LibraryMessages()
    {
        if (s_active)
            return;
        static const int capture = [] {
            std::FILE* file = platform::TemporaryFile();
            return file ? _fileno(file) : -1;  // kept open for the life of the program
        }();
        if (capture < 0)
            return;
        std::fflush(stderr);
        m_saved = _dup(2);
        if (m_saved < 0)
            return;
        _chsize_s(capture, 0);
        _lseeki64(capture, 0, SEEK_SET);
        if (_dup2(capture, 2) != 0) {
            _close(m_saved);
            m_saved = -1;
            return;
        }
        m_capture = capture;
        s_active = this;
    }
    ~LibraryMessages()
    {
        Restore();
        if (m_saved >= 0)
            _close(m_saved);
    }
#else
    LibraryMessages()
    {
        const cookie_io_functions_t functions{nullptr, &LibraryMessages::Write, nullptr, nullptr};
        m_stream = fopencookie(this, "w", functions);
        if (!m_stream || s_active)
            return;
        std::setvbuf(m_stream, nullptr, _IONBF, 0);
        m_saved = stderr;
        stderr = m_stream;
        s_active = this;
    }
    ~LibraryMessages()
    {
        Restore();
        if (m_stream)
            std::fclose(m_stream);
    }
#endif
    LibraryMessages(const LibraryMessages&) = delete;
    LibraryMessages& operator=(const LibraryMessages&) = delete;

    // Standard error back; each message once, with how often it came.
    std::vector<std::string> Notes()
    {
        Restore();
        if (!m_partial.empty())
            Message(std::exchange(m_partial, {}));
        std::vector<std::string> notes;
        for (const auto& [message, count] : m_messages)
            notes.push_back("libical reported: " + message + (count > 1 ? " (" + std::to_string(count) + " times)" : ""));
        if (m_dropped)
            notes.push_back("libical reported " + std::to_string(m_dropped) + " further message(s)");
        return notes;
    }

    // Standard error as it was, for as long as it lives.
    class Paused {
    public:
        Paused()
            : m_messages(s_active)
        {
            if (m_messages)
                m_messages->Redirect(false);
        }
        ~Paused()
        {
            if (m_messages)
                m_messages->Redirect(true);
        }
        Paused(const Paused&) = delete;
        Paused& operator=(const Paused&) = delete;

    private:
        LibraryMessages* m_messages;
    };

private:
    static constexpr std::size_t kKept = 20;      // distinct messages kept
    static constexpr std::size_t kLength = 300;  // characters kept of each

#ifdef _WIN32
    void Redirect(bool toCapture)
    {
        std::fflush(stderr);
        _dup2(toCapture ? m_capture : m_saved, 2);
    }

    void Restore()
    {
        if (s_active != this)
            return;
        Redirect(false);
        s_active = nullptr;
        // What libical wrote, as the stream of the POSIX side would have taken it.
        const long long size = _lseeki64(m_capture, 0, SEEK_END);
        if (size <= 0)
            return;
        std::string text(static_cast<std::size_t>(std::min<long long>(size, 1 << 20)), '\0');
        _lseeki64(m_capture, 0, SEEK_SET);
        const int got = _read(m_capture, text.data(), static_cast<unsigned>(text.size()));
        if (got > 0)
            Write(this, text.data(), static_cast<std::size_t>(got));
    }

    static void Write(LibraryMessages* self, const char* data, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == '\n')
                self->Message(std::exchange(self->m_partial, {}));
            else if (self->m_partial.size() < kLength)
                self->m_partial += data[i];
        }
    }
#else
    void Redirect(bool toCapture) { stderr = toCapture ? m_stream : m_saved; }

    void Restore()
    {
        if (s_active != this)
            return;
        stderr = m_saved;
        s_active = nullptr;
    }

    static ssize_t Write(void* cookie, const char* data, std::size_t size)
    {
        auto* self = static_cast<LibraryMessages*>(cookie);
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == '\n')
                self->Message(std::exchange(self->m_partial, {}));
            else if (self->m_partial.size() < kLength)
                self->m_partial += data[i];
        }
        return static_cast<ssize_t>(size);
    }
#endif

    // One line libical wrote: "file.c:123: message", maybe after "function(), ".
    void Message(std::string line)
    {
        for (std::size_t at = line.find(".c:"); at != std::string::npos; at = line.find(".c:", at + 1)) {
            std::size_t end = at + 3;
            while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end])))
                ++end;
            if (end > at + 3 && line.compare(end, 2, ": ") == 0) {
                line.erase(0, end + 2);
                break;
            }
        }
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            return;
        for (auto& [message, count] : m_messages)
            if (message == line) {
                ++count;
                return;
            }
        if (m_messages.size() < kKept)
            m_messages.emplace_back(std::move(line), 1);
        else
            ++m_dropped;
    }

    static inline LibraryMessages* s_active = nullptr;
#ifdef _WIN32
    int m_capture = -1;
    int m_saved = -1;
#else
    std::FILE* m_stream = nullptr;
    std::FILE* m_saved = nullptr;
#endif
    std::string m_partial;
    std::vector<std::pair<std::string, std::size_t>> m_messages;
    std::size_t m_dropped = 0;
};

// Counts an appointment and hands it on; what was worked around in it is told with the file,
// naming the event.
void Deliver(Appointment&& a, CalendarFile& result, std::vector<std::string>& notes, const AppointmentSink& sink)
{
    ++result.imported;
    if (!a.warnings.empty()) {
        const auto* subject = std::get_if<std::string>(a.Get(PropertySet::Tag, tag::Subject, PropType::String));
        const std::string name = subject && !subject->empty() ? "the event \"" + *subject + "\": " : "an event without a title: ";
        for (const std::string& w : a.warnings)
            AddNote(notes, name + w, result);
    }
    if (sink) {
        const LibraryMessages::Paused paused;
        sink(std::move(a));
    } else {
        result.appointments.push_back(std::move(a));
    }
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

// Reads an iCalendar file held whole in memory: every component parsed at once. Files the scan
// cannot cut into series safely (components other than VCALENDAR at the top) are read so.
CalendarFile ReadWholeText(const std::string& raw, const AppointmentSink& sink)
{
    CalendarFile result;
    std::string text = raw;
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    MappingContext context;
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
    {
        // Events cut down to what an appointment keeps, as when the file is read a series at a
        // time.
        EventLimiter limiter;
        std::string limited;
        limiter.Add(text, limited);
        limiter.Flush();
        text = std::move(limited);
        for (std::string& note : limiter.TakeNotes())
            result.warnings.push_back("an event: " + note);
    }
    std::vector<Component> roots = ParseICalendar(text, result);
    std::vector<icalcomponent*> calendars;
    for (const Component& root : roots)
        CollectCalendars(root.get(), calendars);
    if (calendars.empty()) {
        result.error = "the file could not be read as iCalendar";
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
                AddNote(result.warnings, NoValidStart(ev), result);
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
                AddNote(result.warnings, "two events share the UID " + uid + ": both were imported", result);
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
// Windows-1252 when the file needs it, and indented descriptions marked.
std::string ComponentText(std::string_view bytes, std::uint64_t offset, bool repair)
{
    std::string out;
    if (!repair) {
        out.assign(bytes);
        KeepLeadingBlanks(out);
    } else {
        out.reserve(bytes.size() + 16);
        ForEachLine(bytes, offset, [&](std::string_view line, std::uint64_t) {
            std::string l(line);
            if (!IsValidUtf8(l)) {
                std::size_t repaired = 0, multibyte = 0;
                l = RepairUtf8(l, &repaired, &multibyte);
            }
            KeepLeadingBlanks(l);
            out += l;
        });
    }
    if (out.empty() || out.back() != '\n')
        out += "\r\n";
    return out;
}

class SeriesReader {
public:
    SeriesReader(const TextSource& source, CalendarScan& scan, const CalendarScan& original, const AppointmentSink& sink,
                 CalendarFile& result)
        : m_source(source)
        , m_scan(scan)
        , m_rawZones(original.rawZones)
        , m_sink(sink)
        , m_result(result)
        , m_zones(ZoneResolver::Shared())
    {
        m_repair = original.strayBytes > 0;
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
        out += ComponentText(m_buffer, offset, m_repair);
        return true;
    }

    // An event's text as Text gives it, cut down by the limiter to what an appointment keeps. A
    // large event is read a block at a time, each line cut at limits::kReadLineBytes as it is
    // read, so that it is never held whole.
    bool LimitedText(std::uint64_t offset, std::uint64_t length, std::string& out)
    {
        constexpr std::size_t kBlock = 1u << 20;
        if (length <= kBlock) {
            std::string text;
            if (!Text(offset, length, text))
                return false;
            m_limiter.Add(text, out);
            m_limiter.Flush();
            return true;
        }
        std::string block(kBlock, '\0');
        std::string lines;          // whole lines read, from linesOffset on
        std::uint64_t linesOffset = offset;
        std::size_t lineStart = 0;  // where in `lines` the unfinished line starts
        bool lineCut = false;
        auto flush = [&](std::size_t upTo) {
            m_limiter.Add(ComponentText(std::string_view(lines).substr(0, upTo), linesOffset, m_repair), out);
            lines.erase(0, upTo);
            linesOffset += upTo;
            lineStart -= upTo;
        };
        const std::uint64_t end = offset + length;
        for (std::uint64_t at = offset; at < end;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, end - at));
            if (!m_source.Read(at, n, block.data()))
                return false;
            ForEachLine(std::string_view(block.data(), n), at, [&](std::string_view piece, std::uint64_t pieceAt) {
                const bool ends = piece.back() == '\n';
                if (lineCut) {
                    linesOffset = pieceAt + piece.size();  // the rest of a cut line is passed over
                } else if (lines.size() - lineStart + piece.size() > limits::kReadLineBytes) {
                    // What is kept of an overlong line is read as a line of its own.
                    flush(lineStart);
                    lines.append(piece.substr(0, limits::kReadLineBytes - lines.size()));
                    lines += '\n';
                    m_limiter.Add(ComponentText(lines, linesOffset, m_repair), out);
                    lines.clear();
                    lineStart = 0;
                    lineCut = true;
                    linesOffset = pieceAt + piece.size();
                } else {
                    lines.append(piece);
                }
                if (ends) {
                    lineCut = false;
                    lineStart = lines.size();
                    if (lines.size() >= kBlock)
                        flush(lines.size());
                }
            });
            at += n;
        }
        if (!lines.empty())
            flush(lines.size());
        m_limiter.Flush();
        return true;
    }

    // Each calendar block's time zones, in file order as the whole file loads them, and whether
    // its events are messages about events instead.
    bool LoadCalendars()
    {
        // The zones' texts as the whole file, repaired and marked, has them.
        std::map<std::string, std::string> raw;
        for (const auto& [id, block] : m_rawZones) {
            std::string text = m_repair ? AsUtf8(block) : block;
            KeepLeadingBlanks(text);
            AddRawZone(raw, std::move(text));
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
                Component root(ParseText(m_scan.unfinished ? Repaired(text) : text));
                std::vector<std::string> notes;
                m_zones.LoadDefinitions(root.get(), &raw, &notes);
                for (std::string& note : notes)
                    Place(calendar.offset, std::move(note));
            }
            if (!calendar.methods.empty()) {
                const std::string text = "BEGIN:VCALENDAR\r\n" + calendar.methods + "END:VCALENDAR\r\n";
                Component root(ParseText(m_repair ? AsUtf8(text) : text));
                icalproperty* method = root ? icalcomponent_get_first_property(root.get(), ICAL_METHOD_PROPERTY) : nullptr;
                const icalproperty_method m = method ? icalproperty_get_method(method) : ICAL_METHOD_NONE;
                if (m == ICAL_METHOD_CANCEL || m == ICAL_METHOD_REPLY || m == ICAL_METHOD_COUNTER) {
                    Place(calendar.offset, std::string("a ") + icalproperty_method_to_string(m)
                                                               + " message about an event, not an event, was skipped");
                    skipped[k] = true;
                }
            }
        }
        if (m_scan.zonesLeftOut)
            Place(0, std::to_string(m_scan.zonesLeftOut) + " of the file's time zone definitions were left out: a file keeps the first "
                                         + std::to_string(limits::kZones) + " that fit in " + std::to_string(limits::kZoneBytes >> 20)
                                         + " MB; events in the others are placed by the zone's name where it is known");
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

    // Parses the events `indexes` together, each cut down by the limiter, adding them to `out`
    // and what the limiter left out to `notes`. Past the first event, events are taken only
    // while their text fits in limits::kSeriesBytes; those that do not are left in `rest`.
    bool Parse(const std::vector<std::uint32_t>& indexes, std::vector<Component>& holders, std::vector<Parsed>& out,
               std::vector<std::string>& notes, std::vector<std::uint32_t>* rest = nullptr)
    {
        std::string text = "BEGIN:VCALENDAR\r\n";
        std::vector<std::uint32_t> taken;
        std::size_t cost = 0;
        for (std::uint32_t i : indexes) {
            const ScannedEvent& e = m_scan.events[i];
            const std::size_t before = text.size();
            if (e.flags & ScannedEvent::kUnfinished) {
                // Read with what it leaves open closed.
                std::string event;
                if (!LimitedText(e.offset, e.length, event))
                    return false;
                text += Repaired(event);
            } else if (!LimitedText(e.offset, e.length, text)) {
                return false;
            }
            const std::size_t c = m_limiter.TakeCost();
            if (rest && !taken.empty() && cost + c > limits::kSeriesBytes) {
                text.resize(before);
                rest->push_back(i);
                continue;
            }
            cost += c;
            taken.push_back(i);
        }
        for (std::string& note : m_limiter.TakeNotes())
            notes.push_back(std::move(note));
        text += "END:VCALENDAR\r\n";
        holders.emplace_back(ParseText(text));
        icalcomponent* root = holders.back().get();
        std::size_t k = 0;
        for (icalcomponent* c = root ? icalcomponent_get_first_component(root, ICAL_ANY_COMPONENT) : nullptr; c && k < taken.size();
             c = icalcomponent_get_next_component(root, ICAL_ANY_COMPONENT))
            out.push_back({taken[k++], c});
        return true;
    }

    // Maps a series; `notes` (on what was left out of it) go with its first appointment.
    void Map(icalcomponent* master, const std::vector<icalcomponent*>& overrides, std::vector<std::string>& notes)
    {
        MapSeries(master, overrides, m_zones, m_context, [&](Appointment&& a) {
            a.warnings.insert(a.warnings.end(), std::make_move_iterator(notes.begin()), std::make_move_iterator(notes.end()));
            notes.clear();
            Deliver(std::move(a), m_result, m_mapped, m_sink);
        });
    }

    // The changed occurrences of a series that is not in the file, each an appointment of its
    // own: read a part at a time. False when the file could not be read again.
    // The parsed events with a valid start, in file order; the others are told and done with.
    std::vector<Parsed> ValidInFileOrder(std::vector<Parsed>& parsed)
    {
        std::vector<ScannedEvent>& events = m_scan.events;
        std::sort(parsed.begin(), parsed.end(), [](const Parsed& a, const Parsed& b) { return a.index < b.index; });
        std::vector<Parsed> valid;
        for (const Parsed& p : parsed) {
            if (HasValidStart(p.ev)) {
                valid.push_back(p);
            } else {
                Place(events[p.index].offset, NoValidStart(p.ev));
                events[p.index].flags |= ScannedEvent::kDone;
            }
        }
        return valid;
    }

    bool SweepOverridesOnly(std::uint32_t i, std::vector<std::uint32_t> part)
    {
        std::vector<ScannedEvent>& events = m_scan.events;
        bool first = true;
        while (!part.empty()) {
            std::vector<Component> holders;
            std::vector<Parsed> parsed;
            std::vector<std::string> notes;
            std::vector<std::uint32_t> rest;
            const std::size_t take = std::min(part.size(), limits::kChangedOccurrences);
            const std::vector<std::uint32_t> chunk(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(take));
            if (!Parse(chunk, holders, parsed, notes, &rest))
                return false;
            rest.insert(rest.end(), part.begin() + static_cast<std::ptrdiff_t>(take), part.end());
            part = std::move(rest);
            std::vector<Parsed> valid = ValidInFileOrder(parsed);
            // As in Sweep: the series is read where its first event with a valid start stands.
            if (first && (valid.empty() || valid.front().index != i))
                return true;
            first = false;
            for (const Parsed& p : valid) {
                events[p.index].flags |= ScannedEvent::kDone;
                Map(nullptr, {p.ev}, notes);
            }
        }
        return true;
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
        std::vector<std::string> notes;
        if (e.uidHash == 0 || (e.flags & ScannedEvent::kLaterMaster)) {
            // An event without a UID, or one more event without RECURRENCE-ID after the master
            // of its UID: a series of its own.
            e.flags |= ScannedEvent::kDone;
            if (!Parse({i}, holders, parsed, notes))
                return false;
            if (parsed.empty())
                return true;
            icalcomponent* ev = parsed[0].ev;
            if (!HasValidStart(ev)) {
                Place(e.offset, NoValidStart(ev));
                return true;
            }
            const bool isOverride = icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY) != nullptr;
            const char* uid = icalcomponent_get_uid(ev);
            if ((e.flags & ScannedEvent::kLaterMaster) && !isOverride && uid && *uid)
                Place(e.offset, "two events share the UID " + std::string(uid) + ": both were imported");
            if (isOverride)
                Map(nullptr, {ev}, notes);
            else
                Map(ev, {}, notes);
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
        if (!haveMaster && part.size() > 1)
            return SweepOverridesOnly(i, std::move(part));
        // The master first, then its changed occurrences as far as a series keeps them: the
        // first kChangedOccurrences in file order that fit in kSeriesBytes together.
        std::stable_partition(part.begin(), part.end(),
                              [&](std::uint32_t j) { return !(events[j].flags & ScannedEvent::kOverride); });
        std::vector<std::uint32_t> leftOut;
        if (part.size() > limits::kChangedOccurrences + 1) {
            leftOut.assign(part.begin() + limits::kChangedOccurrences + 1, part.end());
            part.resize(limits::kChangedOccurrences + 1);
        }
        if (!Parse(part, holders, parsed, notes, &leftOut))
            return false;
        auto validMaster = [&] {
            return std::any_of(parsed.begin(), parsed.end(), [&](const Parsed& p) {
                return !(events[p.index].flags & ScannedEvent::kOverride) && HasValidStart(p.ev);
            });
        };
        while (!validMaster() && nextMaster < members.size()) {
            if (!Parse({members[nextMaster]}, holders, parsed, notes))
                return false;
            do
                ++nextMaster;
            while (nextMaster < members.size() && (events[members[nextMaster]].flags & ScannedEvent::kOverride));
        }
        std::vector<Parsed> valid = ValidInFileOrder(parsed);
        // A series stands where its first event with a valid start does: when that is further on,
        // the series is read there.
        if (valid.empty() || valid.front().index != i)
            return true;
        for (const Parsed& p : valid)
            events[p.index].flags |= ScannedEvent::kDone;
        for (std::uint32_t j : leftOut)
            events[j].flags |= ScannedEvent::kDone;
        const auto kept = std::count_if(parsed.begin(), parsed.end(),
                                        [&](const Parsed& p) { return (events[p.index].flags & ScannedEvent::kOverride) != 0; });
        if (!leftOut.empty())
            notes.push_back(std::to_string(leftOut.size()) + " of its " + std::to_string(leftOut.size() + static_cast<std::size_t>(kept))
                            + " changed occurrences were left out, and those occurrences keep the series' own times: a series keeps "
                              "the first " + std::to_string(limits::kChangedOccurrences) + " that fit in "
                            + std::to_string(limits::kSeriesBytes >> 20) + " MB of text");
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
                Place(events[p.index].offset, "two events share the UID " + uid + ": both were imported");
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
                Map(s.master, s.overrides, notes);
            } else {
                for (icalcomponent* o : s.overrides)
                    Map(nullptr, {o}, notes);
            }
        }
        return true;
    }

    // A note on the file's structure, by where in the file it arose.
    void Place(std::uint64_t offset, std::string note)
    {
        if (m_placed.size() < limits::kNotes)
            m_placed.emplace_back(offset, std::move(note));
        else
            ++m_result.notesLeftOut;
    }

    const TextSource& m_source;
    CalendarScan& m_scan;
    const std::map<std::string, std::string>& m_rawZones;  // of the file as it stands
    const AppointmentSink& m_sink;
    CalendarFile& m_result;
    ZoneResolver& m_zones;
    MappingContext m_context;
    bool m_repair = false;
    std::string m_buffer;
    EventLimiter m_limiter;
    int m_unnamed = 0;
    std::vector<std::pair<std::uint64_t, std::string>> m_placed;  // by where in the file they arose
    std::vector<std::string> m_mapped;                            // about events, as mapped
};

// The lines of a source as Lines() gives those of a text: cut at LF, without a CR before it.
class SourceLines {
public:
    SourceLines(const TextSource& source, std::uint64_t begin)
        : m_source(source)
        , m_at(begin)
    {
    }

    bool Next(std::string& line)
    {
        line.clear();
        bool any = false;
        for (;;) {
            if (m_pos == m_filled) {
                if (m_at >= m_source.Size())
                    break;
                // A megabyte at a time, but no more than what is left of a small file.
                m_filled = static_cast<std::size_t>(std::min<std::uint64_t>(1u << 20, m_source.Size() - m_at));
                if (m_buffer.size() < m_filled)
                    m_buffer.resize(m_filled);
                m_pos = 0;
                if (!m_source.Read(m_at, m_filled, m_buffer.data())) {
                    m_failed = true;
                    m_filled = 0;
                    return false;
                }
                m_at += m_filled;
            }
            any = true;
            // A line longer than kLongestLine is cut there.
            const char* from = m_buffer.data() + m_pos;
            const std::size_t room = kLongestLine - std::min<std::size_t>(kLongestLine, line.size());
            if (const void* lf = std::memchr(from, '\n', m_filled - m_pos)) {
                const auto n = static_cast<std::size_t>(static_cast<const char*>(lf) - from);
                line.append(from, std::min(n, room));
                m_pos += n + 1;
                break;
            }
            line.append(from, std::min(m_filled - m_pos, room));
            m_pos = m_filled;
        }
        if (!any)
            return false;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        ++m_count;
        return true;
    }
    bool Failed() const { return m_failed; }
    std::size_t Count() const { return m_count; }  // the lines handed out so far

private:
    static constexpr std::size_t kLongestLine = limits::kWholeFileBytes;

    const TextSource& m_source;
    std::uint64_t m_at;
    std::string m_buffer;
    std::size_t m_pos = 0, m_filled = 0, m_count = 0;
    bool m_failed = false;
};

// Reads a vCalendar file a calendar block at a time, and a large block a part of its entries at
// a time, each with the header of its block. Its events are never changed occurrences (libical's
// vCalendar reader knows no RECURRENCE-ID), so each is a series of its own. A first pass gathers
// what the parts need of the whole file: the blocks' headers, the EXDATE lists, the number of
// entries and whether stray bytes are to be read as Windows-1252. An entry that libical cannot
// read costs that entry only, a header it cannot read the entries of its block.
class VCalendarReader {
public:
    VCalendarReader(const TextSource& source, const CalendarScan& scan, const AppointmentSink& sink, CalendarFile& result)
        : m_source(source)
        , m_scan(scan)
        , m_sink(sink)
        , m_result(result)
        , m_zones(ZoneResolver::Shared())
    {
        m_context.vcalendar = true;
        const auto now = std::chrono::system_clock::now();
        m_context.importTime = FileTimeFromUnix(std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
    }

    // False when the file could not be read.
    bool Read()
    {
        if (!FirstPass())
            return false;
        m_zones.BeginFile();
        std::uint32_t partBlock = 0;
        std::vector<std::string> part;
        std::size_t partCost = 0;
        auto readPart = [&] {
            if (!part.empty())
                ReadPart(partBlock, part);
            part.clear();
            partCost = 0;
        };
        // Parts of a block's entries as many as libical's parser takes with the block's header,
        // fewer when their text, cut down to the limits, passes limits::kSeriesBytes.
        EventLimiter limiter(true);
        VCalendarSplitter second({{}, {}, [&](std::uint32_t block, std::size_t, std::string&& entry) {
                                      for (std::string& note : limiter.TakeNotes())
                                          AddNote(m_phaseNotes, EntryName(entry) + note, m_result);
                                      const std::size_t cost = limiter.TakeCost();
                                      if (!part.empty()
                                          && (block != partBlock || part.size() >= PartSize(block)
                                              || partCost + cost > limits::kSeriesBytes))
                                          readPart();
                                      partBlock = block;
                                      partCost += cost;
                                      part.push_back(std::move(entry));
                                  },
                                  {}});
        second.Limit(&limiter);
        if (!EachLine(nullptr, [&](std::string& line, std::size_t number) {
                if (m_repair)
                    line = AsUtf8(line);
                KeepLeadingBlanks(line);
                second.Line(std::move(line), number);
            }))
            return false;
        second.End();
        readPart();

        for (std::string& note : m_parseNotes)
            m_result.warnings.push_back(std::move(note));
        BrokenBlockNotes();
        if (m_entries == 0) {
            // Nothing to read but the headers: whether any of them reads tells a calendar with
            // no events from what is not vCalendar.
            bool reads = false;
            for (std::size_t h = 0; h < m_headers.size() && !reads; ++h)
                reads = HeaderReads(h);
            m_anyCalendar = reads;
        }
        if (!m_anyCalendar) {
            m_result.error = "the file could not be read as vCalendar";
            if (m_entries > 0)
                m_result.error += m_entries == 1 ? ": libical could not read its entry"
                                                 : ": libical could read none of its " + std::to_string(m_entries) + " entries";
            return true;
        }
        for (std::vector<std::string>* notes : {&m_phaseNotes, &m_mapped})
            for (std::string& note : *notes)
                m_result.warnings.push_back(std::move(note));
        return true;
    }

private:
    struct Block {
        std::uint32_t header = 0;  // in m_headers
        std::uint32_t line = 0;    // of its BEGIN:VCALENDAR (the outside block: of its first entry)
        std::uint32_t entries = 0, failed = 0;
    };
    struct Header {
        std::string text;  // as libical's parser is handed it
        std::optional<VCalendarZone> zone;
        std::size_t items = 0;
        int reads = -1;  // whether libical's parser reads it; -1 not known yet
    };

    Block& BlockOf(std::uint32_t block) { return block == VCalendarSplitter::kOutside ? m_outside : m_blocks[block]; }

    // The blocks, their headers and entries, the EXDATE lists and whether the file is UTF-8.
    bool FirstPass()
    {
        std::size_t stray = 0, multibyte = 0;
        std::map<std::string, std::vector<std::string>> exdates;
        std::map<std::string, std::uint32_t> headerIndex;  // the headers as the file has them
        std::vector<std::string> pending;                  // the header lines of the blocks open, innermost last
        std::string outsideHeader;
        auto intern = [&](std::string&& header) {
            const auto [it, added] = headerIndex.try_emplace(std::move(header), static_cast<std::uint32_t>(headerIndex.size()));
            return it->second;
        };
        VCalendarSplitter first({[&](std::uint32_t, std::size_t line) {
                                     m_blocks.push_back({0, static_cast<std::uint32_t>(std::min<std::size_t>(line, UINT32_MAX)), 0, 0});
                                     pending.emplace_back();
                                 },
                                 [&](std::uint32_t block, std::string&& line) {
                                     // Lines go to the innermost block open; past limits::kWholeFileBytes
                                     // the rest of a header is left out.
                                     std::string& header = block == VCalendarSplitter::kOutside ? outsideHeader : pending.back();
                                     if (header.size() < limits::kWholeFileBytes) {
                                         header += line;
                                         header += "\r\n";
                                     }
                                 },
                                 [&](std::uint32_t block, std::size_t line, std::string&& entry) {
                                     ++m_entries;
                                     Block& b = BlockOf(block);
                                     if (block == VCalendarSplitter::kOutside && b.entries == 0)
                                         b.line = static_cast<std::uint32_t>(std::min<std::size_t>(line, UINT32_MAX));
                                     ++b.entries;
                                     if (ContainsNoCase(entry, "EXDATE"))
                                         RawExdatesOf(entry, exdates);
                                 },
                                 [&](std::uint32_t block) {
                                     m_blocks[block].header = intern(std::move(pending.back()));
                                     pending.pop_back();
                                 }});
        // Entries are cut down as in the second pass, so that one is never held whole.
        EventLimiter firstLimiter(true);
        first.Limit(&firstLimiter);
        std::vector<std::string> cleanNotes;
        const bool read = EachLine(&cleanNotes, [&](std::string& line, std::size_t number) {
            for (std::size_t i = 0; i < line.size();) {
                const std::size_t len = Utf8SequenceAt(line, i);
                stray += len == 0;
                multibyte += len > 1;
                i += std::max<std::size_t>(len, 1);
            }
            KeepLeadingBlanks(line);
            first.Line(std::move(line), number);
        });
        if (!read)
            return false;
        first.End();
        m_outside.header = intern(std::move(outsideHeader));
        for (std::string& note : cleanNotes)
            m_result.warnings.push_back(std::move(note));
        m_repair = stray > 0;
        if (m_repair) {
            m_result.warnings.push_back(multibyte == 0 ? "the file is not UTF-8; it was read as Windows-1252"
                                                       : "the file is UTF-8 but for " + std::to_string(stray)
                                                             + " stray byte(s), which were read as Windows-1252");
            for (auto& [uid, values] : exdates) {
                for (std::string& v : values)
                    v = AsUtf8(v);
                m_context.rawExdates[AsUtf8(uid)] = std::move(values);
            }
        } else {
            m_context.rawExdates = std::move(exdates);
        }
        m_headers.resize(headerIndex.size());
        for (auto& [raw, index] : headerIndex) {
            const std::string header = m_repair ? AsUtf8(raw) : raw;
            Header& h = m_headers[index];
            h.zone = ReadVCalendarZone(header);
            h.text = VCalendarHeader(header, index == m_outside.header && m_outside.entries > 0);
            h.items = static_cast<std::size_t>(std::count(h.text.begin(), h.text.end(), '\n'));
        }
        return true;
    }

    // The entries of a block handed to libical's parser at a time, with the items of its header.
    std::size_t PartSize(std::uint32_t block)
    {
        const std::size_t items = m_headers[BlockOf(block).header].items;
        return items + 1 < kVCalendarItems ? kVCalendarItems - items : 1;
    }

    bool HeaderReads(std::size_t index)
    {
        Header& h = m_headers[index];
        if (h.reads < 0)
            h.reads = VCalendarHeaderReads(h.text) ? 1 : 0;
        return h.reads == 1;
    }

    void ReadPart(std::uint32_t block, const std::vector<std::string>& entries)
    {
        Block& b = BlockOf(block);
        if (!HeaderReads(b.header)) {
            b.failed += static_cast<std::uint32_t>(entries.size());
            return;
        }
        const Header& h = m_headers[b.header];
        std::vector<Component> calendars;
        bool repaired = false;
        std::size_t failed = 0;
        ParseVCalendarEntries(h.text, entries, 0, entries.size(), h.zone, repaired, failed, calendars);
        b.failed += static_cast<std::uint32_t>(failed);
        if (repaired && !m_repairNoted) {
            m_parseNotes.push_back("the file had unfinished entries; they were closed where they broke off");
            m_repairNoted = true;
        }
        m_anyCalendar |= !calendars.empty();
        for (const Component& calendar : calendars)
            Events(calendar.get());
    }

    // What could not be read, a note for each block (the first few) that lost entries.
    void BrokenBlockNotes()
    {
        constexpr std::size_t kNamed = 10;
        std::size_t named = 0, moreBlocks = 0, moreEntries = 0;
        auto note = [&](const Block& b, bool outside) {
            if (b.failed == 0)
                return;
            if (named == kNamed) {
                ++moreBlocks;
                moreEntries += b.failed;
                return;
            }
            ++named;
            const std::string where = outside ? "outside any calendar block (from line " + std::to_string(b.line) + ")"
                                              : "of the calendar block on line " + std::to_string(b.line);
            const std::string why = b.failed == 1 ? " was skipped: libical could not read it as vCalendar"
                                                  : " were skipped: libical could not read them as vCalendar";
            if (b.failed == b.entries)
                m_result.warnings.push_back((b.entries == 1 ? "the entry " : "all " + std::to_string(b.entries) + " entries ") + where + why);
            else
                m_result.warnings.push_back(std::to_string(b.failed) + " of the " + std::to_string(b.entries) + " entries " + where + why);
        };
        for (const Block& b : m_blocks)
            note(b, false);
        note(m_outside, true);
        if (moreBlocks)
            m_result.warnings.push_back(std::to_string(moreEntries) + " entries of " + std::to_string(moreBlocks)
                                        + " further calendar blocks were skipped too");
    }

    // Calls `f` with each line of the file as the vCalendar reader sees it, and the number of the
    // file's line it comes from, its values cleaned when the file names character sets or
    // encodings.
    bool EachLine(std::vector<std::string>* notes, const std::function<void(std::string&, std::size_t)>& f)
    {
        SourceLines lines(m_source, m_scan.layout.begin);
        if (!m_scan.hasCharset && !m_scan.hasQuotedPrintable && !m_scan.hasBase64) {
            std::string line;
            while (lines.Next(line))
                f(line, lines.Count());
            return !lines.Failed();
        }
        std::vector<std::string> ignored;
        LineFeed feed([&](std::string& line) { return lines.Next(line); });
        std::string cleaned;
        while (feed.More()) {
            const std::size_t number = lines.Count();  // of the line ahead, the next one cleaned
            cleaned.clear();
            CleanNextLine(feed, cleaned, notes ? *notes : ignored);
            ignored.clear();
            for (std::string& line : Lines(cleaned))
                f(line, number);
        }
        return !lines.Failed();
    }

    // How notes name an entry: by its summary when it is plain text.
    static std::string EntryName(const std::string& entry)
    {
        const std::size_t at = entry.find("\nSUMMARY:");
        if (at == std::string::npos)
            return "an event without a title: ";
        const std::size_t from = at + 9;
        std::string summary = entry.substr(from, std::min<std::size_t>(entry.find_first_of("\r\n", from), from + 80) - from);
        return "the event \"" + AsUtf8(summary) + "\": ";
    }

    // The events of one calendar read from a part, as the whole file's are read.
    void Events(icalcomponent* calendar)
    {
        static const std::map<std::string, std::string> kNoRawZones;
        m_zones.LoadDefinitions(calendar, &kNoRawZones, &m_phaseNotes);
        m_result.skippedTodos += icalcomponent_count_components(calendar, ICAL_VTODO_COMPONENT);
        m_result.skippedJournals += icalcomponent_count_components(calendar, ICAL_VJOURNAL_COMPONENT);
        if (icalproperty* method = icalcomponent_get_first_property(calendar, ICAL_METHOD_PROPERTY)) {
            const icalproperty_method m = icalproperty_get_method(method);
            if (m == ICAL_METHOD_CANCEL || m == ICAL_METHOD_REPLY || m == ICAL_METHOD_COUNTER) {
                AddNote(m_phaseNotes, std::string("a ") + icalproperty_method_to_string(m)
                                          + " message about an event, not an event, was skipped", m_result);
                return;
            }
        }
        auto emit = [&](Appointment&& a) { Deliver(std::move(a), m_result, m_mapped, m_sink); };
        for (icalcomponent* ev = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); ev;
             ev = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
            if (!HasValidStart(ev)) {
                AddNote(m_phaseNotes, NoValidStart(ev), m_result);
                continue;
            }
            const char* uidText = icalcomponent_get_uid(ev);
            const std::string uid = uidText ? uidText : "";
            const bool isOverride = icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY) != nullptr;
            if (!uid.empty() && !isOverride && !m_masters.insert(uid).second)
                AddNote(m_phaseNotes, "two events share the UID " + uid + ": both were imported", m_result);
            if (isOverride)
                MapSeries(nullptr, {ev}, m_zones, m_context, emit);
            else
                MapSeries(ev, {}, m_zones, m_context, emit);
        }
    }

    const TextSource& m_source;
    const CalendarScan& m_scan;
    const AppointmentSink& m_sink;
    CalendarFile& m_result;
    ZoneResolver& m_zones;
    MappingContext m_context;
    std::vector<Block> m_blocks;
    Block m_outside;  // the lines outside any block
    std::vector<Header> m_headers;
    std::size_t m_entries = 0;
    bool m_repair = false, m_repairNoted = false;
    bool m_anyCalendar = false;
    std::unordered_set<std::string> m_masters;  // UIDs of the events read so far
    std::vector<std::string> m_parseNotes, m_phaseNotes, m_mapped;
};

// A source with text before and after it: events written without their VCALENDAR are read as
// if it were there.
class WrappedSource final : public TextSource {
public:
    WrappedSource(std::string before, const TextSource& inner, std::uint64_t begin, std::string after)
        : m_before(std::move(before))
        , m_inner(inner)
        , m_begin(begin)
        , m_after(std::move(after))
    {
    }
    std::uint64_t Size() const override { return m_before.size() + (m_inner.Size() - m_begin) + m_after.size(); }
    bool Read(std::uint64_t offset, std::size_t n, char* out) const override
    {
        const std::uint64_t innerSize = m_inner.Size() - m_begin;
        if (offset > Size() || n > Size() - offset)
            return false;
        while (n > 0) {
            std::size_t k;
            if (offset < m_before.size()) {
                k = std::min<std::size_t>(n, static_cast<std::size_t>(m_before.size() - offset));
                std::memcpy(out, m_before.data() + offset, k);
            } else if (offset < m_before.size() + innerSize) {
                k = static_cast<std::size_t>(std::min<std::uint64_t>(n, m_before.size() + innerSize - offset));
                if (!m_inner.Read(m_begin + offset - m_before.size(), k, out))
                    return false;
            } else {
                const std::size_t at = static_cast<std::size_t>(offset - m_before.size() - innerSize);
                k = std::min(n, m_after.size() - at);
                std::memcpy(out, m_after.data() + at, k);
            }
            out += k;
            offset += k;
            n -= k;
        }
        return true;
    }

private:
    std::string m_before;
    const TextSource& m_inner;
    std::uint64_t m_begin;
    std::string m_after;
};

#ifdef _WIN32
int FileNumber(std::FILE* f) { return _fileno(f); }
#else
int FileNumber(std::FILE* f) { return fileno(f); }
#endif

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using TempFile = std::unique_ptr<std::FILE, FileCloser>;

// The text of `source` with its unfinished components closed, written to a temporary file so
// that it need not be held; nullptr when it cannot be written.
TempFile RepairedCopy(const TextSource& source, std::uint64_t begin)
{
    TempFile file(platform::TemporaryFile());
    if (!file)
        return nullptr;
    SourceLines lines(source, begin);
    Repairer repairer;
    std::string line, out;
    auto flush = [&] {
        const bool written = std::fwrite(out.data(), 1, out.size(), file.get()) == out.size();
        out.clear();
        return written;
    };
    while (lines.Next(line)) {
        repairer.Line(line, out);
        if (out.size() >= (1u << 20) && !flush())
            return nullptr;
    }
    repairer.End(out);
    if (lines.Failed() || !flush() || std::fflush(file.get()) != 0)
        return nullptr;
    return file;
}

// The text of `source` as UTF-8 with every line ending in CRLF, written to a temporary file;
// nullptr when it cannot be read or written.
TempFile NormalisedCopy(const TextSource& source, const TextShape& shape, std::vector<std::string>& notes)
{
    TempFile file(platform::TemporaryFile());
    if (!file)
        return nullptr;
    const bool utf16 = shape.encoding != TextShape::Encoding::Utf8;
    Utf16Decoder decoder(shape.encoding == TextShape::Encoding::Utf16BigEndian);
    LineEnds ends;
    std::string in(static_cast<std::size_t>(std::min<std::uint64_t>(1u << 20, source.Size())), '\0'), decoded, out;
    auto write = [&](std::string_view text) {
        out.clear();
        ends.Feed(text, out);
        return std::fwrite(out.data(), 1, out.size(), file.get()) == out.size();
    };
    for (std::uint64_t at = utf16 ? 2 : 0; at < source.Size();) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), source.Size() - at));
        if (!source.Read(at, n, in.data()))
            return nullptr;
        at += n;
        if (utf16) {
            decoded.clear();
            decoder.Feed(std::string_view(in.data(), n), decoded);
            if (!write(decoded))
                return nullptr;
        } else if (!write(std::string_view(in.data(), n))) {
            return nullptr;
        }
    }
    decoded.clear();
    decoder.Finish(decoded);
    out.clear();
    ends.Feed(decoded, out);
    ends.Finish(out);
    if (std::fwrite(out.data(), 1, out.size(), file.get()) != out.size() || std::fflush(file.get()) != 0)
        return nullptr;
    if (decoder.Broken())
        notes.push_back("the file is UTF-16 but for " + std::to_string(decoder.Broken())
                        + " broken character(s), which were read as U+FFFD");
    return file;
}

// Reads a calendar from `source`: a series at a time where the scan allows it, else whole, the
// text got from `whole`. Its lines end in LF or CRLF and it is not UTF-16.
CalendarFile ReadText(const TextSource& source, int formatHint, const AppointmentSink& sink,
                      const std::function<CalendarFile()>& whole)
{
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
    if (vcalendar && scan.tooLarge) {
        result.error = MemoryBudgetReason("it holds more than " + std::to_string(limits::kFileEvents) + " events or calendar blocks");
        return result;
    }
    if (vcalendar) {
        VCalendarReader reader(source, scan, sink, result);
        if (!reader.Read()) {
            result = {};
            result.error = "the file cannot be read: it changed while it was imported";
        } else if (result.imported == 0 && result.error.empty()) {
            NothingImported(result);
        }
        return result;
    }
    // Events written without their VCALENDAR are read as if it were there.
    std::optional<WrappedSource> wrapped;
    CalendarScan wrappedScan;
    const TextSource* text = &source;
    CalendarScan* structure = &scan;
    if (!scan.hasVCalendar) {
        wrapped.emplace("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n", source, scan.layout.begin, "\r\nEND:VCALENDAR\r\n");
        wrappedScan = ScanCalendar(*wrapped);
        text = &*wrapped;
        structure = &wrappedScan;
    }
    // A file in which no calendar is ever finished is read with its unfinished entries closed.
    TempFile repairedFile;
    std::optional<FileSource> repaired;
    CalendarScan repairedScan;
    if (!structure->readError && !structure->wellFormed && structure->rootsCompleted == 0) {
        repairedFile = RepairedCopy(*text, structure->layout.begin);
        if (repairedFile) {
            std::fseek(repairedFile.get(), 0, SEEK_END);
            repaired.emplace(FileNumber(repairedFile.get()), static_cast<std::uint64_t>(std::ftell(repairedFile.get())));
            repairedScan = ScanCalendar(*repaired);
            text = &*repaired;
            structure = &repairedScan;
        }
    }
    if (!structure->readError && structure->tooLarge) {
        result.error = MemoryBudgetReason("it holds more than " + std::to_string(limits::kFileEvents) + " events or calendar blocks");
        return result;
    }
    if (structure->readError || !structure->wellFormed) {
        // Read whole, the file is held at some fifteen times its size while it is parsed.
        if (text->Size() > limits::kWholeFileBytes) {
            result.error = MemoryBudgetReason("it is larger than " + std::to_string(limits::kWholeFileBytes >> 20)
                                              + " MB and can only be read whole, as its structure is broken");
            return result;
        }
        CalendarFile read = whole();
        read.warnings.insert(read.warnings.begin(), result.warnings.begin(), result.warnings.end());
        return read;
    }
    if (scan.strayBytes > 0) {
        if (scan.multibyteCharacters == 0)
            result.warnings.push_back("the file is not UTF-8; it was read as Windows-1252");
        else
            result.warnings.push_back("the file is UTF-8 but for " + std::to_string(scan.strayBytes)
                                      + " stray byte(s), which were read as Windows-1252");
    }
    if (repaired || structure->unfinished)
        result.warnings.push_back("the file had unfinished entries; they were closed where they broke off");
    SeriesReader reader(*text, *structure, scan, sink, result);
    if (!reader.Read()) {
        result.error = "the file cannot be read: it changed while it was imported";
        return result;
    }
    if (result.imported == 0)
        NothingImported(result);
    return result;
}

// Reads a calendar from `source`, UTF-16 or with lines ended otherwise than in LF or CRLF read
// from a copy as UTF-8 with CRLF ends; else as ReadText does.
CalendarFile ReadShaped(const TextSource& source, int formatHint, const AppointmentSink& sink,
                        const std::function<CalendarFile()>& whole)
{
    const TextShape shape = ShapeOf(source);
    CalendarFile result;
    if (shape.readError) {
        result.error = "the file cannot be read";
        return result;
    }
    if (shape.AsItStands())
        return ReadText(source, formatHint, sink, whole);
    std::vector<std::string> notes;
    errno = 0;
    const TempFile copy = NormalisedCopy(source, shape, notes);
    if (!copy) {
        result.error = errno ? Reason("the file's text could not be prepared for reading")
                             : "the file's text could not be prepared for reading";
        return result;
    }
    std::fseek(copy.get(), 0, SEEK_END);
    const FileSource normalised(FileNumber(copy.get()), static_cast<std::uint64_t>(std::ftell(copy.get())));
    result = ReadText(normalised, formatHint, sink, [&] {
        std::string text(static_cast<std::size_t>(normalised.Size()), '\0');
        if (!normalised.Read(0, text.size(), text.data())) {
            CalendarFile failed;
            failed.error = Reason("the file cannot be read");
            return failed;
        }
        return ReadWholeText(text, sink);
    });
    result.warnings.insert(result.warnings.begin(), notes.begin(), notes.end());
    return result;
}

// Reads a calendar from `source`, what libical writes to standard error meanwhile among its notes.
CalendarFile ReadSource(const TextSource& source, int formatHint, const AppointmentSink& sink,
                        const std::function<CalendarFile()>& whole)
{
    Initialise();
    LibraryMessages messages;
    CalendarFile result = ReadShaped(source, formatHint, sink, whole);
    for (std::string& note : messages.Notes())
        result.warnings.push_back(std::move(note));
    return result;
}

}  // namespace

CalendarFile ReadCalendarFile(const std::string& path, int formatHint, const AppointmentSink& sink)
{
    CalendarFile result;
    platform::FileStatus st;
    if (!platform::StatusOf(path, st)) {
        result.error = Reason("the file cannot be opened");
        return result;
    }
    if (!st.regular) {
        result.error = "it is not a regular file";
        return result;
    }
    if (st.size > kMaxFileSize) {
        result.error = "the file is larger than 512 MB, more than any calendar holds";
        return result;
    }
    const int fd = platform::OpenForReading(path);
    if (fd < 0) {
        result.error = Reason("the file cannot be opened");
        return result;
    }
    const FileSource source(fd, st.size);
    try {
        result = ReadSource(source, formatHint, sink, [&] {
            std::string text(static_cast<std::size_t>(st.size), '\0');
            if (!source.Read(0, text.size(), text.data())) {
                CalendarFile failed;
                failed.error = Reason("the file cannot be read");
                return failed;
            }
            return ReadWholeText(text, sink);
        });
        CountNotesLeftOut(result);
    } catch (const std::bad_alloc&) {
        // The limits keep a file well within the budget; a machine short of memory fails it
        // with the same reason.
        result = CalendarFile();
        result.error = MemoryBudgetReason();
    }
    platform::CloseFile(fd);
    return result;
}

CalendarFile ReadCalendarText(const std::string& text, int formatHint, const std::string& name,
                              const AppointmentSink& sink)
{
    (void)name;
    try {
        CalendarFile result = ReadSource(MemorySource(text), formatHint, sink, [&] { return ReadWholeText(text, sink); });
        CountNotesLeftOut(result);
        return result;
    } catch (const std::bad_alloc&) {
        CalendarFile result;
        result.error = MemoryBudgetReason();
        return result;
    }
}

}  // namespace cal
