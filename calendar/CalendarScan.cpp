#include "CalendarScan.h"
#include "EventLimits.h"
#include "TextCodec.h"
#include "platform/Platform.h"

#include <libical/ical.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <strings.h>
#include <unordered_map>

namespace cal {

bool MemorySource::Read(std::uint64_t offset, std::size_t n, char* out) const
{
    if (offset > m_text.size() || n > m_text.size() - offset)
        return false;
    std::memcpy(out, m_text.data() + offset, n);
    return true;
}

bool FileSource::Read(std::uint64_t offset, std::size_t n, char* out) const
{
    return platform::ReadAt(m_fd, out, n, offset);
}

namespace {

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool StartsNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// Whether `text` holds `word` (upper case) in any case.
bool ContainsNoCase(std::string_view text, std::string_view word)
{
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(word[0])));
    for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
        const char c = text[at];
        if ((c == word[0] || c == lower) && StartsNoCase(text.substr(at), word))
            return true;
    }
    return false;
}

// The first ';' or ':' of a content line, as libical's parser looks for them: outside double
// quotes, not after a backslash, never the first character.
std::size_t FirstSeparator(std::string_view line)
{
    bool quoted = false;
    for (std::size_t i = 1; i < line.size(); ++i) {
        const char prev = line[i - 1];
        if (prev == '\0' || prev == '\\')
            continue;
        if (line[i] == '"')
            quoted = !quoted;
        else if (!quoted && (line[i] == ';' || line[i] == ':'))
            return i;
    }
    return std::string_view::npos;
}

std::string_view TrimEnd(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'
                          || s.back() == '\v' || s.back() == '\f'))
        s.remove_suffix(1);
    return s;
}

// A line without its line end, as the parser joins folded lines.
std::string_view Content(std::string_view line)
{
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
    } else if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// Reads a source line by line through a buffer that grows only for a line longer than it.
class LineReader {
public:
    LineReader(const TextSource& source, const LineLayout& layout)
        : m_source(source)
        , m_layout(layout)
        // A small file gets a buffer its size: zeroing a megabyte would cost more than reading it.
        , m_buffer(static_cast<std::size_t>(std::clamp<std::uint64_t>(layout.end - layout.begin, 4096, 1u << 20)), '\0')
        , m_bufferOffset(layout.begin)
        , m_readAt(layout.begin)
    {
    }

    // A line longer than kPiece comes in pieces of about that size (never splitting a UTF-8
    // character); `*continued` tells that `line` goes on from the piece before.
    bool Next(std::string_view& line, std::uint64_t& offset, bool* continued)
    {
        *continued = m_midLine;
        m_midLine = false;
        offset = m_bufferOffset + m_start;
        if (offset >= m_layout.end || m_error)
            return false;
        std::size_t searched = m_start;
        for (;;) {
            if (const void* hit = std::memchr(m_buffer.data() + searched, '\n', m_filled - searched)) {
                const std::size_t stop = static_cast<const char*>(hit) - m_buffer.data() + 1;
                line = std::string_view(m_buffer.data() + m_start, stop - m_start);
                m_start = stop;
                return true;
            }
            searched = m_filled;
            if (m_readAt >= m_layout.end) {
                line = std::string_view(m_buffer.data() + m_start, m_filled - m_start);
                m_start = m_filled;
                return !line.empty();
            }
            // Keep the unfinished line, moved to the front, and read on.
            if (m_start > 0) {
                std::memmove(m_buffer.data(), m_buffer.data() + m_start, m_filled - m_start);
                m_filled -= m_start;
                searched -= m_start;
                m_bufferOffset += m_start;
                m_start = 0;
            }
            if (m_filled - m_start >= kPiece) {
                std::size_t cut = m_start + kPiece;
                for (int back = 0; back < 3 && (static_cast<unsigned char>(m_buffer[cut]) & 0xC0) == 0x80; ++back)
                    --cut;
                line = std::string_view(m_buffer.data() + m_start, cut - m_start);
                m_start = cut;
                m_midLine = true;
                return true;
            }
            if (m_filled == m_buffer.size())
                m_buffer.resize(m_buffer.size() * 2);
            const std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>(m_buffer.size() - m_filled, m_layout.end - m_readAt));
            if (!m_source.Read(m_readAt, n, m_buffer.data() + m_filled)) {
                m_error = true;
                return false;
            }
            m_filled += n;
            m_readAt += n;
        }
    }
    bool Failed() const { return m_error; }

private:
    static constexpr std::size_t kPiece = 4u << 20;

    const TextSource& m_source;
    const LineLayout& m_layout;
    std::string m_buffer;
    bool m_midLine = false;
    std::uint64_t m_bufferOffset;  // file offset of m_buffer[0]
    std::uint64_t m_readAt;
    std::size_t m_start = 0, m_filled = 0;
    bool m_error = false;
};

class Scanner {
public:
    explicit Scanner(CalendarScan& scan)
        : m_scan(scan)
    {
    }

    // `continued`: the line is a further piece of one longer than the reader hands out at once.
    void Line(std::string_view line, std::uint64_t offset, bool continued)
    {
        Checks(line, continued);
        if (continued) {
            // Only the start of a line matters to the structure; a long value is not kept.
            if (m_store && m_text.size() < kStoredLine)
                m_text.append(Content(line));
            return;
        }
        const bool continuation = m_any && !line.empty() && (line[0] == ' ' || line[0] == '\t');
        m_any = true;
        if (continuation) {
            if (m_store && m_text.size() < kStoredLine)
                m_text.append(Content(line).substr(1));
            return;
        }
        Finish(offset);
        StartLine(Content(line), offset);
    }

    void End()
    {
        Finish(m_scan.layout.end);
        // What the file leaves open ends with it.
        if (!m_open.empty())
            CloseAbove(0, m_scan.layout.end);
        for (const ScannedCalendar& calendar : m_scan.calendars) {
            m_scan.todos += calendar.todos;
            m_scan.journals += calendar.journals;
        }
        if (m_scan.calendars.empty())
            m_scan.wellFormed = false;
    }

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;
    struct Open {
        std::string name;  // upper case
        icalcomponent_kind kind;
        std::uint64_t offset;
        std::uint32_t calendar;  // a calendar's index in m_scan.calendars, kNone for other components
    };

    // What the reader's checks of the whole text ask; none of the words looked for holds a line end.
    void Checks(std::string_view line, bool continued)
    {
        if (m_scan.blank && line.find_first_not_of(" \t\r\n") != std::string_view::npos)
            m_scan.blank = false;
        if (!m_scan.nul && std::memchr(line.data(), '\0', line.size()))
            m_scan.nul = true;
        for (std::size_t at = line.find(':'); at != std::string_view::npos; at = line.find(':', at + 1)) {
            const std::string_view after = line.substr(at + 1);
            if (at >= 5 && EqualNoCase(line.substr(at - 5, 5), "BEGIN")) {
                m_scan.hasVCalendar |= StartsNoCase(after, "VCALENDAR");
                m_scan.hasVEvent |= StartsNoCase(after, "VEVENT");
                m_scan.hasVTodo |= StartsNoCase(after, "VTODO");
                m_scan.hasVJournal |= StartsNoCase(after, "VJOURNAL");
                m_scan.hasVTimezone |= StartsNoCase(after, "VTIMEZONE");
            } else if (at >= 5 && EqualNoCase(line.substr(at - 5, 5), "RRULE")) {
                m_scan.hasRrule |= StartsNoCase(after, "FREQ=");
            }
        }
        if (!m_scan.hasTzid || !m_scan.hasCharset)
            for (std::size_t at = line.find(';'); at != std::string_view::npos; at = line.find(';', at + 1)) {
                m_scan.hasTzid |= StartsNoCase(line.substr(at + 1), "TZID=");
                m_scan.hasCharset |= StartsNoCase(line.substr(at + 1), "CHARSET=");
            }
        // Also "QP", which libical's vCalendar parser takes for quoted-printable; a line that merely
        // mentions it is cleaned for nothing.
        if (!m_scan.hasQuotedPrintable)
            m_scan.hasQuotedPrintable = ContainsNoCase(line, "QUOTED-PRINTABLE") || ContainsNoCase(line, ";QP")
                                        || ContainsNoCase(line, "=QP");
        if (!m_scan.hasBase64)
            m_scan.hasBase64 = ContainsNoCase(line, "BASE64");
        // The file's VERSION before its first entry, read from the first 40 characters of each line.
        if (!m_versionDone && !continued) {
            const std::string_view head = line.substr(0, std::min<std::size_t>(40, line.size() - (line.back() == '\n')));
            if (StartsNoCase(head, "VERSION:")) {
                m_scan.versionSays = head.find("1.0") != std::string::npos ? 1 : 0;
                m_versionDone = true;
            } else if (StartsNoCase(head, "BEGIN:VEVENT") || StartsNoCase(head, "BEGIN:VTODO")) {
                m_versionDone = true;
            }
        }
        // The VTIMEZONE blocks, found as text wherever they stand; the words looked for hold no
        // line end.
        for (std::size_t pos = 0;;) {
            if (!m_inZone) {
                const std::size_t begin = line.find("BEGIN:VTIMEZONE", pos);
                if (begin == std::string_view::npos)
                    break;
                m_inZone = true;
                m_zone.clear();
                pos = begin;
            }
            const std::size_t end = line.find("END:VTIMEZONE", pos);
            if (end == std::string_view::npos) {
                if (m_zone.size() <= limits::kZoneBytes)
                    m_zone.append(line.substr(pos));
                break;
            }
            m_zone.append(line.substr(pos, end - pos));
            // As many zones as the file's calendar blocks read (see ChildEnds).
            if (m_rawZoneBytes + m_zone.size() <= limits::kZoneBytes && m_scan.rawZones.size() < limits::kZones) {
                m_rawZoneBytes += m_zone.size();
                AddRawZone(m_scan.rawZones, std::move(m_zone));
            }
            m_zone.clear();
            m_inZone = false;
            pos = end + 1;
        }
        bool high = false;
        for (char c : line)
            if (static_cast<unsigned char>(c) >= 0x80) {
                high = true;
                break;
            }
        if (high) {
            for (std::size_t i = 0; i < line.size();) {
                const std::size_t len = Utf8SequenceAt(line, i);
                if (len == 0) {
                    ++m_scan.strayBytes;
                    ++i;
                } else {
                    m_scan.multibyteCharacters += len > 1;
                    i += len;
                }
            }
        }
    }

    enum class Name { Other, Begin, End, Method, Uid, RecurrenceId };

    Name NameOf(std::string_view name) const
    {
        name = TrimEnd(name);
        if (EqualNoCase(name, "BEGIN"))
            return Name::Begin;
        if (EqualNoCase(name, "END"))
            return Name::End;
        if (!m_open.empty() && m_open.back().calendar != kNone && EqualNoCase(name, "METHOD"))
            return Name::Method;
        if (InEvent()) {
            if (EqualNoCase(name, "UID"))
                return Name::Uid;
            if (EqualNoCase(name, "RECURRENCE-ID"))
                return Name::RecurrenceId;
        }
        return Name::Other;
    }

    // Whether the innermost open component is an event of a calendar (its own properties are read).
    bool InEvent() const
    {
        const std::size_t n = m_open.size();
        return n >= 2 && m_open[n - 2].calendar != kNone && m_open[n - 1].kind == ICAL_VEVENT_COMPONENT;
    }

    void StartLine(std::string_view content, std::uint64_t offset)
    {
        m_lineOffset = offset;
        m_store = false;
        const std::size_t sep = FirstSeparator(content);
        if (sep == std::string_view::npos) {
            // The name may go on in a folded line.
            m_store = true;
        } else {
            m_store = NameOf(content.substr(0, sep)) != Name::Other;
        }
        if (m_store)
            m_text.assign(content);
    }

    void Finish(std::uint64_t end)
    {
        if (!m_store)
            return;
        m_store = false;
        const std::string_view text = TrimEnd(m_text);
        const std::size_t sep = FirstSeparator(text);
        if (sep == std::string_view::npos)
            return;
        const std::string_view value = text.substr(sep + 1);
        switch (NameOf(text.substr(0, sep))) {
        case Name::Begin: {
            std::string name(TrimEnd(value));
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
            const icalcomponent_kind kind = icalcomponent_string_to_kind(name.c_str());
            if (kind == ICAL_VCALENDAR_COMPONENT) {
                // A calendar stands at the top or inside another calendar; what else is open
                // inside that one ends before it.
                std::size_t keep = m_open.size();
                while (keep > 0 && m_open[keep - 1].calendar == kNone)
                    --keep;
                if (keep < m_open.size())
                    CloseAbove(keep, m_lineOffset);
                if (m_scan.calendars.size() >= limits::kFileEvents) {
                    // More calendar blocks than the index may hold: read whole, which the size
                    // of such a file refuses.
                    m_scan.tooLarge = true;
                    m_scan.wellFormed = false;
                    Push(std::move(name), kind, kNone);
                    break;
                }
                m_scan.calendars.push_back({m_lineOffset, {}, {}});
                Push(std::move(name), kind, static_cast<std::uint32_t>(m_scan.calendars.size() - 1));
                break;
            }
            // An event (a task, a journal entry) while one is open: the open one was left
            // unfinished and ends here.
            if (!m_open.empty() && m_open.back().name == name
                && (kind == ICAL_VEVENT_COMPONENT || kind == ICAL_VTODO_COMPONENT || kind == ICAL_VJOURNAL_COMPONENT))
                CloseAbove(m_open.size() - 1, m_lineOffset);
            if (m_open.empty())
                m_scan.wellFormed = false;  // a component other than a calendar at the top
            Push(std::move(name), kind, kNone);
            if (InEvent()) {
                m_uidLines.clear();
                m_uidClean = false;
                m_override = false;
            }
            break;
        }
        case Name::End: {
            // The innermost open component of that name ends, and what is open inside it with
            // it; an END that names none open is passed over.
            std::string name(TrimEnd(value));
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
            const auto open = m_openNames.find(name);
            if (open == m_openNames.end())
                break;
            std::size_t at = m_open.size();
            while (m_open[at - 1].name != name)
                --at;
            if (at < m_open.size())
                CloseAbove(at, m_lineOffset);
            Close(end, false);
            break;
        }
        case Name::Method:
            // Only the first METHOD counts; a few are kept for the parser to pick it.
            if (std::string& methods = m_scan.calendars[m_open.back().calendar].methods;
                std::count(methods.begin(), methods.end(), '\n') < 8)
                methods.append(text).append("\r\n");
            break;
        case Name::Uid:
            if (m_uidLines.empty())
                m_uidClean = UidIsPlain(text, sep);
            if (m_uidLines.size() < kStoredLine)
                m_uidLines.append(text).append("\r\n");
            break;
        case Name::RecurrenceId:
            m_override = true;
            break;
        case Name::Other:
            break;
        }
    }

    // Whether the value of a UID line is the UID as it stands: nothing to unescape, no parameter.
    static bool UidIsPlain(std::string_view text, std::size_t sep)
    {
        if (text[sep] != ':' || sep + 1 >= text.size() || text[sep + 1] == ' ')
            return false;
        for (std::size_t i = sep + 1; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c < 0x20 || c > 0x7E || c == '\\' || c == ',' || c == ';' || c == '"')
                return false;
        }
        return true;
    }

    void Push(std::string name, icalcomponent_kind kind, std::uint32_t calendar)
    {
        ++m_openNames[name];
        m_open.push_back({std::move(name), kind, m_lineOffset, calendar});
    }

    // Closes the components open above the first `keep`, unfinished, where the text `end`s.
    void CloseAbove(std::size_t keep, std::uint64_t end)
    {
        while (m_open.size() > keep)
            Close(end, true);
    }

    // Closes the innermost open component, its text ending before `end`.
    void Close(std::uint64_t end, bool unfinished)
    {
        const Open& open = m_open.back();
        m_scan.unfinished |= unfinished;
        if (m_open.size() == 1 && open.calendar != kNone && !unfinished)
            ++m_scan.rootsCompleted;
        if (m_open.size() >= 2 && m_open[m_open.size() - 2].calendar != kNone)
            ChildEnds(m_open[m_open.size() - 2].calendar, open, end, unfinished);
        const auto named = m_openNames.find(open.name);
        if (--named->second == 0)
            m_openNames.erase(named);
        m_open.pop_back();
    }

    // A component of calendar `index` ends.
    void ChildEnds(std::uint32_t index, const Open& child, std::uint64_t end, bool unfinished)
    {
        ScannedCalendar& calendar = m_scan.calendars[index];
        const std::uint64_t length = end - child.offset;
        switch (child.kind) {
        case ICAL_VEVENT_COMPONENT: {
            if (length >= UINT32_MAX || m_scan.events.size() >= UINT32_MAX - 1) {
                m_scan.wellFormed = false;  // far past any calendar: read whole
                break;
            }
            if (m_scan.events.size() >= limits::kFileEvents) {
                m_scan.tooLarge = true;  // more than the index may hold
                break;
            }
            ScannedEvent e;
            e.offset = child.offset;
            e.length = static_cast<std::uint32_t>(length);
            e.calendar = index;
            e.uidHash = UidHash();
            e.flags = static_cast<std::uint8_t>((m_override ? ScannedEvent::kOverride : 0) | (unfinished ? ScannedEvent::kUnfinished : 0));
            m_scan.events.push_back(e);
            break;
        }
        case ICAL_VTIMEZONE_COMPONENT:
            // libical holds a zone at some sixty times its text, and the zones of a calendar
            // block are parsed together: past the limits they are left out.
            if (m_zoneCount < limits::kZones && m_zoneBytes + length <= limits::kZoneBytes) {
                ++m_zoneCount;
                m_zoneBytes += length;
                calendar.zones.push_back({child.offset, length});
            } else {
                ++m_scan.zonesLeftOut;
            }
            break;
        case ICAL_VTODO_COMPONENT:
            ++calendar.todos;
            break;
        case ICAL_VJOURNAL_COMPONENT:
            ++calendar.journals;
            break;
        default:
            break;
        }
    }

    // The hash of the event's UID as libical reads it; 0 when it has none.
    std::uint64_t UidHash() const
    {
        if (m_uidLines.empty())
            return 0;
        std::string uid;
        if (m_uidClean) {
            const std::string_view first(m_uidLines.data(), m_uidLines.find("\r\n"));
            uid = std::string(first.substr(FirstSeparator(first) + 1));
        } else {
            std::string text = "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\n" + m_uidLines + "END:VEVENT\r\nEND:VCALENDAR\r\n";
            if (!IsValidUtf8(text)) {
                std::size_t repaired = 0, multibyte = 0;
                text = RepairUtf8(text, &repaired, &multibyte);
            }
            std::unique_ptr<icalcomponent, void (*)(icalcomponent*)> root(icalparser_parse_string(text.c_str()),
                                                                           icalcomponent_free);
            icalcomponent* ev = root ? icalcomponent_get_first_component(root.get(), ICAL_VEVENT_COMPONENT) : nullptr;
            const char* value = ev ? icalcomponent_get_uid(ev) : nullptr;
            uid = value ? value : "";
        }
        if (uid.empty())
            return 0;
        const std::uint64_t h = std::hash<std::string_view>()(uid);
        return h == 0 ? 1 : h;
    }

    static constexpr std::size_t kStoredLine = 1u << 16;

    CalendarScan& m_scan;
    bool m_any = false;
    bool m_inZone = false;
    std::string m_zone;
    std::size_t m_rawZoneBytes = 0, m_zoneCount = 0;
    std::uint64_t m_zoneBytes = 0;
    bool m_versionDone = false;

    // The logical line being read, kept only when it may matter.
    bool m_store = false;
    std::string m_text;
    std::uint64_t m_lineOffset = 0;

    std::vector<Open> m_open;  // the components open, innermost last
    std::unordered_map<std::string, std::uint32_t> m_openNames;  // how many are open of each name
    std::string m_uidLines;
    bool m_uidClean = false;
    bool m_override = false;
};

}  // namespace

TextShape ShapeOf(const TextSource& source)
{
    TextShape shape;
    const std::uint64_t size = source.Size();
    unsigned char bom[2] = {};
    if (size >= 2 && source.Read(0, 2, reinterpret_cast<char*>(bom))) {
        if (bom[0] == 0xFF && bom[1] == 0xFE)
            shape.encoding = TextShape::Encoding::Utf16LittleEndian;
        else if (bom[0] == 0xFE && bom[1] == 0xFF)
            shape.encoding = TextShape::Encoding::Utf16BigEndian;
        if (shape.encoding != TextShape::Encoding::Utf8)
            return shape;
    }
    std::string block(static_cast<std::size_t>(std::min<std::uint64_t>(1u << 20, size)), '\0');
    bool crBefore = false;  // the previous block ended in a carriage return
    for (std::uint64_t at = 0; at < size;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - at));
        if (!source.Read(at, n, block.data())) {
            shape.readError = true;
            return shape;
        }
        if (crBefore && block[0] != '\n') {
            shape.otherLineEnds = true;
            return shape;
        }
        for (const char* cr = static_cast<const char*>(std::memchr(block.data(), '\r', n)); cr;
             cr = static_cast<const char*>(std::memchr(cr + 1, '\r', block.data() + n - cr - 1))) {
            if (cr + 1 == block.data() + n)
                break;
            if (cr[1] != '\n') {
                shape.otherLineEnds = true;
                return shape;
            }
        }
        crBefore = block[n - 1] == '\r';
        at += n;
    }
    shape.otherLineEnds = crBefore;
    return shape;
}

CalendarScan ScanCalendar(const TextSource& source)
{
    CalendarScan scan;
    scan.layout.end = source.Size();
    char bom[3] = {};
    if (scan.layout.end >= 3 && source.Read(0, 3, bom) && std::memcmp(bom, "\xEF\xBB\xBF", 3) == 0)
        scan.layout.begin = 3;
    Scanner scanner(scan);
    LineReader reader(source, scan.layout);
    std::string_view line;
    std::uint64_t offset = 0;
    bool continued = false;
    while (reader.Next(line, offset, &continued))
        scanner.Line(line, offset, continued);
    if (reader.Failed()) {
        scan.readError = true;
        return scan;
    }
    scanner.End();
    return scan;
}

void AddRawZone(std::map<std::string, std::string>& zones, std::string block)
{
    const std::size_t tz = block.find("\nTZID");
    if (tz == std::string::npos)
        return;
    const std::size_t colon = block.find(':', tz);
    const std::size_t eol = block.find_first_of("\r\n", colon == std::string::npos ? tz + 1 : colon);
    if (colon == std::string::npos || eol == std::string::npos)
        return;
    std::string id = block.substr(colon + 1, eol - colon - 1);
    if (id.size() >= 2 && id.front() == '"' && id.back() == '"')
        id = id.substr(1, id.size() - 2);
    std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return std::tolower(c); });
    zones[id] = std::move(block);
}

void LinkSeries(std::vector<ScannedEvent>& events)
{
    std::vector<std::uint32_t> order;
    for (std::uint32_t i = 0; i < events.size(); ++i) {
        events[i].next = UINT32_MAX;
        if (events[i].uidHash != 0 && !(events[i].flags & ScannedEvent::kSkipped))
            order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return events[a].uidHash != events[b].uidHash ? events[a].uidHash < events[b].uidHash : a < b;
    });
    for (std::size_t k = 1; k < order.size(); ++k)
        if (events[order[k - 1]].uidHash == events[order[k]].uidHash)
            events[order[k - 1]].next = order[k];
}

}  // namespace cal
