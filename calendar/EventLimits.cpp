#include "EventLimits.h"

#include <algorithm>
#include <iterator>
#include <cctype>

namespace cal {

namespace {

// Properties the import reads once (the first copy): their first copy is always kept.
constexpr std::string_view kSingles[] = {
    "DTSTART", "DTEND", "DURATION", "SUMMARY", "LOCATION", "DESCRIPTION", "URL", "UID", "RECURRENCE-ID",
    "ORGANIZER", "CLASS", "PRIORITY", "TRANSP", "STATUS", "SEQUENCE", "CREATED", "LAST-MODIFIED", "DTSTAMP",
    "DCREATED", "X-MICROSOFT-CDO-ALLDAYEVENT", "X-MICROSOFT-MSNCALENDAR-ALLDAYEVENT", "X-MICROSOFT-CDO-BUSYSTATUS",
    "X-MICROSOFT-CDO-IMPORTANCE"};

std::string_view WithoutLineEnd(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

std::string UpperTrimmed(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

// The first ':' outside double quotes: where a property's value starts.
std::size_t ValueStart(std::string_view line)
{
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i + 1;
    }
    return std::string_view::npos;
}

}  // namespace

std::string MemoryBudgetReason(const std::string& what)
{
    return "the file needs more memory than the import allows for one file (" + std::to_string(limits::kFileBudgetMB)
           + " MB)" + (what.empty() ? std::string() : ": " + what);
}

void EventLimiter::Add(std::string_view text, std::string& out)
{
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string_view::npos ? text.size() : end + 1;
        const std::string_view line = text.substr(at, end - at);
        at = end;
        if (m_pending && (line[0] == ' ' || line[0] == '\t')) {
            Append(line, true);
        } else {
            if (m_pending)
                Decide();
            m_out = &out;
            StartLine(line);
        }
    }
}

void EventLimiter::Flush()
{
    if (m_pending)
        Decide();
    m_depth = m_eventDepth = m_dropDepth = 0;
}

void EventLimiter::StartLine(std::string_view line)
{
    m_pending = true;
    m_lineStart = m_out->size();
    m_content = 0;
    m_cut = false;
    m_single = -1;
    m_which = 0;
    m_kind = Kind::Other;
    // The name as the line's first physical line has it: up to the first ';' or ':', in upper case.
    char name[40];
    std::size_t n = 0;
    bool named = false;  // no separator, or a name longer than any the import reads: none
    for (std::size_t i = 0; i < line.size() && n < sizeof name; ++i) {
        if (line[i] == ';' || line[i] == ':') {
            named = true;
            break;
        }
        if (line[i] != ' ' && line[i] != '\t')
            name[n++] = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
    }
    const std::string_view upper = named ? std::string_view(name, n) : std::string_view();
    if (upper == "BEGIN")
        m_kind = Kind::Begin;
    else if (upper == "END")
        m_kind = Kind::End;
    else if (upper == "ATTENDEE")
        m_kind = Kind::Attendee;
    else if (upper == "RDATE" || upper == "EXDATE")
        m_kind = Kind::Dates, m_which = upper == "EXDATE";
    else if (upper == "CATEGORIES")
        m_kind = Kind::Categories;
    else if (upper == "RRULE" || upper == "EXRULE")
        m_kind = Kind::Rule, m_which = upper == "EXRULE";
    else if (upper == "DESCRIPTION")
        m_kind = Kind::Description;
    if ((m_kind == Kind::Other || m_kind == Kind::Description) && !upper.empty())
        for (std::size_t i = 0; i < std::size(kSingles); ++i)
            if (kSingles[i] == upper) {
                m_single = static_cast<int>(i);
                if (m_kind == Kind::Other)
                    m_kind = Kind::Single;
                break;
            }
    Append(line, false);
}

std::size_t EventLimiter::Cap() const
{
    return m_kind == Kind::Description ? limits::kDescriptionBytes : limits::kValueBytes;
}

void EventLimiter::Append(std::string_view piece, bool continuation)
{
    if (m_cut)
        return;
    const std::string_view body = WithoutLineEnd(piece);
    const std::string_view lead = continuation ? body.substr(0, 1) : std::string_view();
    std::string_view content = continuation ? body.substr(1) : body;
    const std::size_t cap = Cap();
    if (m_content + content.size() > cap) {
        std::size_t keep = cap - std::min(cap, m_content);
        // Never in the middle of a UTF-8 character, an escape, or a quoted-printable byte.
        while (keep > 0 && (static_cast<unsigned char>(content[keep]) & 0xC0) == 0x80)
            --keep;
        std::size_t slashes = 0;
        while (slashes < keep && content[keep - 1 - slashes] == '\\')
            ++slashes;
        keep -= slashes % 2;
        if (m_vcalendar) {
            const std::size_t eq = content.substr(0, keep).find_last_of('=');
            if (eq != std::string_view::npos && keep - eq <= 2)
                keep = eq;
        }
        content = content.substr(0, keep);
        m_cut = true;
    }
    m_out->append(lead).append(content).append("\r\n");
    m_content += content.size();
}

std::size_t EventLimiter::KeepValues(std::size_t allowed)
{
    std::string& out = *m_out;
    const std::size_t start = ValueStart(std::string_view(out).substr(m_lineStart));
    if (start == std::string::npos)
        return 1;
    const char* separators = m_vcalendar ? ",;" : ",";
    std::size_t values = 1, cutAt = std::string::npos;
    for (std::size_t at = out.find_first_of(separators, m_lineStart + start); at != std::string::npos;
         at = out.find_first_of(separators, at + 1)) {
        if (values == allowed && cutAt == std::string::npos)
            cutAt = at;
        ++values;
    }
    if (cutAt != std::string::npos && allowed > 0) {
        out.resize(cutAt);
        while (out.size() > m_lineStart && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
            out.pop_back();
        out += "\r\n";
    }
    return values;
}

void EventLimiter::Keep()
{
    m_cost += m_out->size() - m_lineStart + limits::kLineCost;
    if (m_cut) {
        if (m_kind == Kind::Description)
            m_cutDescription = true;
        else
            ++m_cutValues;
    }
}

void EventLimiter::Drop() { m_out->resize(m_lineStart); }

void EventLimiter::Decide()
{
    m_pending = false;
    const std::size_t bytes = m_out->size() - m_lineStart;
    if (m_kind == Kind::Begin) {
        if (m_dropDepth > 0) {
            ++m_dropDepth;
            return Drop();
        }
        if (m_eventDepth == 0) {
            const std::string_view line = std::string_view(*m_out).substr(m_lineStart);
            const std::size_t start = ValueStart(line);
            const std::string kind = start == std::string::npos ? std::string() : UpperTrimmed(WithoutLineEnd(line.substr(start)));
            if (kind == "VEVENT" || kind == "VTODO" || kind == "VJOURNAL") {
                m_eventDepth = m_depth + 1;
                m_attendees = m_categories = m_nested = m_others = m_eventBytes = m_properties = 0;
                m_dates[0] = m_dates[1] = m_rules[0] = m_rules[1] = 0;
                m_singles.assign(std::size(kSingles), 0);
            }
        } else if (++m_nested > limits::kNestedComponents) {
            ++m_leftComponents;
            m_dropDepth = 1;
            return Drop();
        }
        ++m_depth;
        return Keep();
    }
    if (m_kind == Kind::End) {
        if (m_dropDepth > 0) {
            --m_dropDepth;
            return Drop();
        }
        if (m_depth > 0)
            --m_depth;
        if (m_eventDepth > 0 && m_depth < m_eventDepth)
            m_eventDepth = 0;
        return Keep();
    }
    if (m_dropDepth > 0)
        return Drop();
    if (m_eventDepth == 0)
        return Keep();  // outside events only long values are cut
    bool exempt = false;  // the first copy of a property the import reads
    if (m_depth > m_eventDepth) {
        if (++m_others > limits::kOtherProperties)
            return Drop();
    } else {
        switch (m_kind) {
        case Kind::Attendee:
            if (++m_attendees > limits::kAttendees) {
                ++m_leftAttendees;
                return Drop();
            }
            break;
        case Kind::Dates:
        case Kind::Categories: {
            std::size_t& count = m_kind == Kind::Dates ? m_dates[m_which] : m_categories;
            const std::size_t most = m_kind == Kind::Dates ? limits::kDates : limits::kCategories;
            const std::size_t allowed = most - std::min(most, count);
            const std::size_t values = KeepValues(allowed);
            const std::size_t kept = std::min(values, allowed);
            count += kept;
            (m_kind == Kind::Dates ? m_leftDates : m_leftCategories) += values - kept;
            if (kept == 0)
                return Drop();
            break;
        }
        case Kind::Rule:
            if (++m_rules[m_which] > limits::kRules) {
                ++m_leftRules;
                return Drop();
            }
            exempt = m_rules[m_which] == 1;
            break;
        case Kind::Single:
        case Kind::Description:
            if (++m_singles[static_cast<std::size_t>(m_single)] > limits::kSameProperty)
                return Drop();
            exempt = m_singles[static_cast<std::size_t>(m_single)] == 1;
            break;
        default:
            if (++m_others > limits::kOtherProperties)
                return Drop();
            break;
        }
    }
    if (!exempt && m_eventBytes + bytes > limits::kEventBytes) {
        ++m_leftOverBudget;
        return Drop();
    }
    // libical's vCalendar reader gives up on an entry of more than about 480 properties, and
    // with it on every entry read together with it.
    if (m_vcalendar && ++m_properties > kVCalendarProperties && !exempt) {
        ++m_leftVCalendar;
        return Drop();
    }
    if (!exempt)
        m_eventBytes += bytes;
    Keep();
}

std::vector<std::string> EventLimiter::TakeNotes()
{
    std::vector<std::string> notes;
    auto n = [](std::size_t v) { return std::to_string(v); };
    if (m_leftAttendees)
        notes.push_back(n(m_leftAttendees) + " of its attendees were left out: an appointment keeps the organizer and the first "
                        + n(limits::kAttendees) + " attendees");
    if (m_leftDates)
        notes.push_back(n(m_leftDates) + " of its added or excluded dates (RDATE, EXDATE) were left out: an event keeps the first "
                        + n(limits::kDates) + " of each");
    if (m_leftCategories)
        notes.push_back(n(m_leftCategories) + " of its categories were left out: an event keeps the first " + n(limits::kCategories));
    if (m_leftRules)
        notes.push_back(n(m_leftRules) + " of its repeat rules were left out: an event keeps the first " + n(limits::kRules)
                        + " RRULE and EXRULE lines");
    if (m_leftComponents)
        notes.push_back(n(m_leftComponents) + " of the alarms and other entries inside it were left out: an event keeps the first "
                        + n(limits::kNestedComponents));
    if (m_leftOverBudget)
        notes.push_back(n(m_leftOverBudget) + " of its lines were left out: an event keeps at most "
                        + n(limits::kEventBytes >> 20) + " MB of text besides its start, end, rule and description");
    if (m_leftVCalendar)
        notes.push_back(n(m_leftVCalendar) + " of its properties were left out: the vCalendar reader takes at most "
                        + n(kVCalendarProperties) + " of an event");
    if (m_cutDescription)
        notes.push_back("its description was cut to its first " + n(limits::kDescriptionBytes >> 20) + " MB");
    if (m_cutValues)
        notes.push_back(n(m_cutValues) + " of its values were longer than " + n(limits::kValueBytes >> 10)
                        + " KB and were cut there");
    m_leftAttendees = m_leftDates = m_leftCategories = m_leftRules = m_leftComponents = m_leftOverBudget = m_cutValues =
        m_leftVCalendar = 0;
    m_cutDescription = false;
    return notes;
}

}  // namespace cal
