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
