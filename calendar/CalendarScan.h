#pragma once

// The first pass over a calendar file: its text is only scanned, never parsed, to find where
// each calendar block, time zone and event stands and which events share a UID. The events are
// then parsed one series at a time from their byte ranges, so that memory follows the largest
// series rather than the file.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace cal {

// Where a calendar file's bytes come from: text in memory or an open file, read by ranges.
class TextSource {
public:
    virtual ~TextSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads `n` bytes at `offset` into `out`; false when they cannot be read.
    virtual bool Read(std::uint64_t offset, std::size_t n, char* out) const = 0;
};

class MemorySource final : public TextSource {
public:
    explicit MemorySource(std::string_view text) : m_text(text) {}
    std::uint64_t Size() const override { return m_text.size(); }
    bool Read(std::uint64_t offset, std::size_t n, char* out) const override;

private:
    std::string_view m_text;
};

// An open file, read with pread; the descriptor stays the caller's.
class FileSource final : public TextSource {
public:
    FileSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    std::uint64_t Size() const override { return m_size; }
    bool Read(std::uint64_t offset, std::size_t n, char* out) const override;

private:
    int m_fd;
    std::uint64_t m_size;
};

// What must be done to a file's bytes before they are scanned: UTF-16 decoded, and lines that end
// otherwise than in LF or CRLF given CRLF ends.
struct TextShape {
    enum class Encoding { Utf8, Utf16LittleEndian, Utf16BigEndian } encoding = Encoding::Utf8;
    bool otherLineEnds = false;  // a carriage return not followed by LF
    bool readError = false;
    bool AsItStands() const { return encoding == Encoding::Utf8 && !otherLineEnds; }
};

// Looks at the byte order mark and at every carriage return of `source`.
TextShape ShapeOf(const TextSource& source);

// Where the file's text stands; the scanned text's lines end in LF or CRLF (see TextShape).
struct LineLayout {
    std::uint64_t begin = 0;  // after a byte order mark
    std::uint64_t end = 0;    // the file's size
};

// Calls `line(bytes, offset)` for each line of `bytes` (which start at `offset` of the file, at a
// line start), each with its line end.
template <typename F>
void ForEachLine(std::string_view bytes, std::uint64_t offset, F&& line)
{
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t end = bytes.find('\n', at);
        end = end == std::string_view::npos ? bytes.size() : end + 1;
        line(bytes.substr(at, end - at), offset + at);
        at = end;
    }
}

struct ScannedEvent {
    std::uint64_t offset = 0;
    std::uint64_t uidHash = 0;  // 0: no UID, a series of its own
    std::uint32_t length = 0;
    std::uint32_t calendar = 0;
    std::uint32_t next = UINT32_MAX;  // the next event of the same UID, in file order
    std::uint8_t flags = 0;

    static constexpr std::uint8_t kOverride = 1;  // has a RECURRENCE-ID line
    static constexpr std::uint8_t kDone = 2;
    static constexpr std::uint8_t kLaterMaster = 4;  // a further event without RECURRENCE-ID
    static constexpr std::uint8_t kSkipped = 8;     // in a calendar block whose events are skipped
    static constexpr std::uint8_t kUnfinished = 16;  // its END is missing: read with what is open closed
};

struct ScannedRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

struct ScannedCalendar {
    std::uint64_t offset = 0;
    std::vector<ScannedRange> zones;  // its VTIMEZONE components
    std::string methods;              // its METHOD lines, each with CRLF
    int todos = 0, journals = 0;
};

struct CalendarScan {
    LineLayout layout;
    bool readError = false;

    // What the whole text holds, as the reader's first checks ask.
    bool blank = true;
    bool nul = false;
    bool hasVCalendar = false, hasVEvent = false, hasVTodo = false, hasVJournal = false;
    bool hasTzid = false, hasVTimezone = false, hasRrule = false;  // ";TZID=", "BEGIN:VTIMEZONE", "RRULE:FREQ="
    bool hasCharset = false, hasQuotedPrintable = false, hasBase64 = false;  // ";CHARSET=", and the encodings
    int versionSays = -1;  // the first VERSION line before any entry: 1 when it says 1.0, 0 otherwise, -1 none
    std::size_t strayBytes = 0, multibyteCharacters = 0;

    // The file's structure. It can be read a series at a time when every top-level component is
    // a VCALENDAR. Calendars may stand inside calendars; each holds the events directly inside it.
    // An END closes the innermost open component of its name and what is open inside it; a
    // calendar closes what else is open in the calendar it stands in; the file's end closes all.
    bool wellFormed = true;
    bool unfinished = false;  // some component was closed so
    int rootsCompleted = 0;   // top-level calendars ended by their own END
    std::vector<ScannedCalendar> calendars;
    std::vector<ScannedEvent> events;
    int todos = 0, journals = 0;
    // More events or calendar blocks than the index may hold (limits::kFileEvents), and the
    // time zones left out past limits::kZones and kZoneBytes.
    bool tooLarge = false;
    std::size_t zonesLeftOut = 0;
    // Each VTIMEZONE's text as the file has it (BEGIN:VTIMEZONE up to END:VTIMEZONE, wherever
    // they stand), by lower-case TZID: the identity its zone is cached by.
    std::map<std::string, std::string> rawZones;
};

// Adds a VTIMEZONE's text to `zones` under the TZID it names.
void AddRawZone(std::map<std::string, std::string>& zones, std::string block);

// Scans the text of `source`. Events are linked to the next of the same UID once the calendar
// blocks to skip are known (see LinkSeries).
CalendarScan ScanCalendar(const TextSource& source);
// Links each event to the next event of its UID, leaving out those marked kSkipped.
void LinkSeries(std::vector<ScannedEvent>& events);

}  // namespace cal
