// Every file of the shared corpus of real calendar files, read and mapped: each yields
// appointments or a reason, never a crash; the index's counts hold.
#include "calendar/Appointment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

struct CorpusEntry {
    std::string path;
    std::string format;
    int vevents = 0;
    int vtodos = 0;
    std::string malformed;
};

std::vector<CorpusEntry> Index(const std::string& root)
{
    std::vector<CorpusEntry> entries;
    std::ifstream in(root + "/INDEX.tsv");
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        std::stringstream fields(line);
        std::vector<std::string> f;
        std::string cell;
        while (std::getline(fields, cell, '\t'))
            f.push_back(cell);
        if (f.size() < 13)
            continue;
        entries.push_back({f[0], f[1], std::atoi(f[2].c_str()), std::atoi(f[3].c_str()), f[12]});
    }
    return entries;
}

// Files libical's own parser refuses outright; they must still end with a reason.
bool KnownUnreadable(const std::string& path)
{
    return path == "symbian-organizer/TestFiles/cTestVCal.vcs";  // a parser torture test of broken rules
}

}  // namespace

TEST(Corpus, EveryFileYieldsAppointmentsOrAReason)
{
    const std::string root = std::string(VARNEL_SHARED_DIR) + "/corpus";
    const auto entries = Index(root);
    if (entries.empty())
        GTEST_SKIP() << "the shared corpus is not here: " << root;
    int files = 0, withEvents = 0, appointments = 0;
    for (const CorpusEntry& e : entries) {
        const std::string path = root + "/" + e.path;
        const bool vcs = e.path.size() > 4 && (e.path.substr(e.path.size() - 4) == ".vcs" || e.path.substr(e.path.size() - 4) == ".VCS");
        const cal::CalendarFile file = cal::ReadCalendarFile(path, vcs ? cal::kFormatVCalendar : cal::kFormatICalendar);
        ++files;
        SCOPED_TRACE(e.path);
        // Either appointments, or a reason; never both empty.
        EXPECT_NE(file.appointments.empty(), file.error.empty()) << file.error;
        // Events without a start cannot be appointments: such a file may end with that reason.
        const bool noStart = file.error.find("has no valid start") != std::string::npos;
        if (e.vevents > 0 && e.malformed == "-" && !noStart && !KnownUnreadable(e.path)) {
            EXPECT_FALSE(file.appointments.empty()) << "the index counts " << e.vevents << " events: " << file.error;
            ++withEvents;
        }
        if (e.vevents == 0 && e.malformed == "-") {
            EXPECT_TRUE(file.appointments.empty());
        }
        if (e.malformed == "-") {
            EXPECT_EQ(file.skippedTodos, e.vtodos);
        }
        for (const cal::Appointment& a : file.appointments) {
            const auto* start = a.Get(cal::PropertySet::Appointment, 0x820D, cal::PropType::Time);
            const auto* end = a.Get(cal::PropertySet::Appointment, 0x820E, cal::PropType::Time);
            ASSERT_TRUE(start && end);
            EXPECT_LE(std::get<std::int64_t>(*start), std::get<std::int64_t>(*end));
        }
        appointments += static_cast<int>(file.appointments.size());
    }
    std::cout << files << " files, " << withEvents << " with events, " << appointments << " appointments\n";
}

// Two files read by eye, their fields written down here.
TEST(Corpus, SelectedFilesFieldByField)
{
    const std::string root = std::string(VARNEL_SHARED_DIR) + "/corpus";
    const cal::CalendarFile outlook = cal::ReadCalendarFile(root + "/biweekly/io/text/outlook-2010.ics", cal::kFormatICalendar);
    if (!outlook.error.empty() && outlook.error.find("cannot be opened") != std::string::npos)
        GTEST_SKIP() << "the shared corpus is not here: " << root;
    using cal::PropertySet;
    using cal::PropType;
    auto str = [](const cal::Appointment& a, PropertySet set, std::uint32_t id) {
        const auto* v = a.Get(set, id, PropType::String);
        return v ? std::get<std::string>(*v) : std::string("<none>");
    };
    auto num = [](const cal::Appointment& a, PropertySet set, std::uint32_t id, PropType type) {
        const auto* v = a.Get(set, id, type);
        return v ? std::get<std::int64_t>(*v) : -1;
    };
    auto utc = [](int y, int mo, int d, int h, int mi) {
        return static_cast<std::int64_t>(cal::LocalMinutes(y, mo, d, h, mi)) * 600000000LL;
    };

    // Outlook 2010, a meeting request in Eastern time with two attendees.
    ASSERT_EQ(outlook.appointments.size(), 1u) << outlook.error;
    const cal::Appointment& meeting = outlook.appointments[0];
    EXPECT_EQ(str(meeting, PropertySet::Tag, 0x0037), "Team Meeting");
    EXPECT_EQ(str(meeting, PropertySet::Appointment, 0x8208), "Auditorium 16");
    EXPECT_EQ(str(meeting, PropertySet::Tag, 0x1000).rfind("Meeting will discuss objectives for next project.\nWill include", 0), 0u);
    EXPECT_EQ(num(meeting, PropertySet::Appointment, 0x820D, PropType::Time), utc(2013, 6, 10, 16, 0));  // 12:00 EDT
    EXPECT_EQ(num(meeting, PropertySet::Appointment, 0x820E, PropType::Time), utc(2013, 6, 10, 17, 0));
    EXPECT_EQ(num(meeting, PropertySet::Appointment, 0x8205, PropType::Int32), 1);  // tentative
    EXPECT_EQ(num(meeting, PropertySet::Tag, 0x0017, PropType::Int32), 1);
    EXPECT_EQ(num(meeting, PropertySet::Appointment, 0x8201, PropType::Int32), 1);
    EXPECT_EQ(str(meeting, PropertySet::Appointment, 0x8234), "Eastern Standard Time");
    ASSERT_EQ(meeting.recipients.size(), 3u);
    EXPECT_EQ(meeting.recipients[0].displayName, "Smith, Bob");
    EXPECT_EQ(meeting.recipients[0].email, "bobsmith@example.com");
    EXPECT_EQ(meeting.recipients[1].email, "johndoe@example.com");
    EXPECT_EQ(meeting.recipients[1].recipientType, 2u);
    EXPECT_EQ(meeting.recipients[2].displayName, "Doe, Jane");

    // A vCalendar 1.0 example: UTC times, private, tentative.
    const cal::CalendarFile vcal = cal::ReadCalendarFile(root + "/biweekly/io/text/vcal-example1.vcs", cal::kFormatVCalendar);
    ASSERT_EQ(vcal.appointments.size(), 1u) << vcal.error;
    const cal::Appointment& review = vcal.appointments[0];
    EXPECT_EQ(str(review, PropertySet::Tag, 0x0037), "Your Proposal Review");
    EXPECT_EQ(str(review, PropertySet::Tag, 0x1000), "Steve and John to review newest proposal material");
    EXPECT_EQ(num(review, PropertySet::Appointment, 0x820D, PropType::Time), utc(1996, 4, 1, 3, 30));
    EXPECT_EQ(num(review, PropertySet::Appointment, 0x820E, PropType::Time), utc(1996, 4, 1, 4, 30));
    EXPECT_EQ(num(review, PropertySet::Tag, 0x0036, PropType::Int32), 2);
    EXPECT_EQ(num(review, PropertySet::Appointment, 0x8205, PropType::Int32), 1);
    const auto* keywords = review.Get(PropertySet::PublicStrings, 0, PropType::MultiString, "Keywords");
    ASSERT_TRUE(keywords);
    EXPECT_EQ(std::get<std::vector<std::string>>(*keywords), std::vector<std::string>{"MEETING"});
}
