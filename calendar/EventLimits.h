#pragma once

// What one event, one series and one file may hold while they are read. A calendar file is
// read a series at a time, but one series can still be made arbitrarily large (a million
// attendees, ten thousand changed occurrences, a description of hundreds of megabytes), and
// libical holds what it parses at many times the size of its text. So an event's text is cut
// down to what an appointment keeps before it is parsed, a series is parsed only as far as it
// fits, and reading one file stays within kFileBudgetMB.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cal {

namespace limits {

// The memory reading one file may take, besides the store writer's own.
inline constexpr std::size_t kFileBudgetMB = 256;

// Per event. The organizer is always kept.
inline constexpr std::size_t kAttendees = 1000;
// RDATE and EXDATE values, each: a series written as its occurrences has at most 5,000 anyway.
inline constexpr std::size_t kDates = 10000;
inline constexpr std::size_t kCategories = 1000;
inline constexpr std::size_t kRules = 20;               // RRULE and EXRULE lines, each
inline constexpr std::size_t kNestedComponents = 100;   // alarms and other components in an event
inline constexpr std::size_t kSameProperty = 8;         // copies of a property read once
inline constexpr std::size_t kOtherProperties = 1000;   // properties the import does not read
inline constexpr std::size_t kDescriptionBytes = 4u << 20;
inline constexpr std::size_t kValueBytes = 64u << 10;   // any other property, unfolded
// The text an event keeps beyond its first start, end, rule, description and such.
inline constexpr std::size_t kEventBytes = 8u << 20;
// What counts for a property line besides its bytes: libical's own structures for it.
inline constexpr std::size_t kLineCost = 256;

// Per series: the changed occurrences (RECURRENCE-ID) kept with their series, and the text
// parsed at once. MS-OXOCAL's ExceptionCount is 16 bits; each changed occurrence is an
// attachment with a message of its own, all held while the series is written.
inline constexpr std::size_t kChangedOccurrences = 2000;
inline constexpr std::size_t kSeriesBytes = 16u << 20;

// Per file: the events indexed (32 bytes each; a store holds about a million appointments),
// the time zones defined, and the size of a file that can only be read whole (about fifteen
// times its size while it is parsed).
inline constexpr std::size_t kFileEvents = 2000000;
inline constexpr std::size_t kZones = 1000;
inline constexpr std::size_t kZoneBytes = 1u << 20;
inline constexpr std::size_t kNotes = 1000;  // notes of each kind
inline constexpr std::uint64_t kWholeFileBytes = 8u << 20;
// A line longer than this is cut as it is read; what is kept of it is cut again by the limits.
inline constexpr std::size_t kReadLineBytes = kDescriptionBytes + kValueBytes;

}  // namespace limits

// The reason a file is refused with when reading it would take more memory than the import
// allows for one file.
std::string MemoryBudgetReason(const std::string& what = {});

// Cuts the text of events down to the limits above, line by line, before it is parsed. Text
// outside any event passes with only its long values cut. Lines are taken as they end (LF);
// a logical line (with its folded continuations) is decided once it is complete.
class EventLimiter {
public:
    explicit EventLimiter(bool vcalendar = false)
        : m_vcalendar(vcalendar)
    {
    }

    // Adds the lines of `text` that the limits keep to `out`. A last line without its LF is
    // taken as complete.
    void Add(std::string_view text, std::string& out);
    // Decides the last logical line, at the end of the text it was added to, and ends the
    // component: the next text starts afresh.
    void Flush();

    // The cost of what was kept since the last call (bytes and kLineCost a line).
    std::size_t TakeCost()
    {
        const std::size_t c = m_cost;
        m_cost = 0;
        return c;
    }
    // Sentences on what was left out or cut since the last call, each about "the event".
    std::vector<std::string> TakeNotes();

private:
    static constexpr std::size_t kVCalendarProperties = 400;

    enum class Kind { Other, Begin, End, Attendee, Dates, Categories, Rule, Single, Description };

    void StartLine(std::string_view line);
    void Append(std::string_view piece, bool continuation);
    void Decide();
    std::size_t Cap() const;
    // Keeps at most `allowed` values of a comma list; returns how many the line had.
    std::size_t KeepValues(std::size_t allowed);
    void Keep();
    void Drop();

    bool m_vcalendar;
    // The logical line being read: at the end of the text it is added to, from m_lineStart on.
    bool m_pending = false;
    std::string* m_out = nullptr;
    std::size_t m_lineStart = 0;
    std::size_t m_content = 0;  // unfolded bytes of the line kept
    bool m_cut = false;
    Kind m_kind = Kind::Other;
    int m_single = -1;  // index of a property read once
    int m_which = 0;    // RDATE 0, EXDATE 1; RRULE 0, EXRULE 1

    // Where the text is: component depth, the depth of the event, components being dropped.
    int m_depth = 0;
    int m_eventDepth = 0;
    int m_dropDepth = 0;

    // Counts of the event being read.
    std::size_t m_attendees = 0, m_dates[2] = {0, 0}, m_categories = 0, m_rules[2] = {0, 0}, m_nested = 0, m_others = 0,
                m_eventBytes = 0, m_properties = 0;
    std::vector<std::size_t> m_singles;

    // What was left out, for the notes.
    std::size_t m_leftAttendees = 0, m_leftDates = 0, m_leftCategories = 0, m_leftRules = 0, m_leftComponents = 0,
                m_leftOverBudget = 0, m_cutValues = 0, m_leftVCalendar = 0;
    bool m_cutDescription = false;
    std::size_t m_cost = 0;
};

}  // namespace cal
