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

// How the file's lines end, as the parser is handed them: up to the last LF, lines end at LF;
// past it, at a carriage return alone.
struct LineLayout {
    std::uint64_t begin = 0;                     // after a byte order mark
    std::uint64_t end = 0;                       // the file's size
    std::uint64_t lastNewline = UINT64_MAX;      // offset of the last LF, UINT64_MAX when none
};

// Calls `line(bytes, offset)` for each line of `bytes` (which start at `offset` of the file, at a
// line start), each with its line end.
template <typename F>
void ForEachLine(std::string_view bytes, std::uint64_t offset, const LineLayout& layout, F&& line)
{
    std::size_t at = 0;
    while (at < bytes.size()) {
        const bool crOnly = layout.lastNewline == UINT64_MAX || offset + at > layout.lastNewline;
        std::size_t end = bytes.find(crOnly ? '\r' : '\n', at);
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
    // a VCALENDAR. One the file leaves open is dropped, as the parser drops it.
    bool wellFormed = true;
    int rootsCompleted = 0;  // none: the parser reads nothing, and the file is read repaired
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
