// The import run over real files: the store it writes (read back by libpff), what it reports
// file by file, and the runs that cannot or need not write a store.
#include "import/ImportRun.h"

#include "filelist/NativePath.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// A temporary folder, with paths below it as the import run's text.
struct TempFolder : TempDir {
    TempFolder()
        : TempDir("importrun")
    {
    }
    Text q(const std::string& below = {}) const
    {
        Text text = FromUtf8(below.empty() ? path : path + "/" + below);
        std::replace(text.begin(), text.end(), u'/', kPathSeparator);
        return text;
    }
};

void Copy(const std::string& example, const std::string& to)
{
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(std::string(VARNEL_EXAMPLES) + "/" + example, to);
}

void Write(const std::string& to, const std::string& text)
{
    fs::create_directories(fs::path(to).parent_path());
    std::ofstream(to, std::ios::binary) << text;
}

// pstcheck's verdict, and the store's folders as libpff reads them (not on Windows, where there
// is no Python with libpff: the tree is then empty and the checks of it are left out).
std::string Tree(const Text& store)
{
    std::string out;
    EXPECT_EQ(RunCommand(testshell::PstcheckCommand(PSTCHECK, Utf8(store)), &out), 0) << out;
#ifdef _WIN32
    return {};
#else
    out.clear();
    EXPECT_EQ(RunCommand("/usr/bin/python3 " STORE_TREE " " + testshell::Quote(Utf8(store)), &out), 0) << out;
    return out;
#endif
}

#ifdef _WIN32
constexpr bool kTreeRead = false;
#else
constexpr bool kTreeRead = true;
#endif

std::uintmax_t SizeOf(const Text& path) { return fs::file_size(FileSystemPath(path)); }

// Records what the run reports.
struct Recorder : ImportObserver {
    void Yield() override { ++yields; }
    void StoreCreated(const Text& path, const Text&) override { created = path; }
    void FileStarting(int index, int total) override { events.push_back("start " + std::to_string(index) + "/" + std::to_string(total)); }
    void FileDone(int index, int, const Text&, const Text& folder, int appointments, const Text& reason) override
    {
        events.push_back("done " + std::to_string(index) + " " + Utf8(folder) + " " + std::to_string(appointments)
                         + (reason.empty() ? " ok" : " failed"));
    }
    int yields = 0;
    Text created;
    std::vector<std::string> events;
};

const LocalTime kWhen{2026, 12, 7, 9, 5, 7};

ImportOptions Into(const Text& folder)
{
    ImportOptions options;
    options.saveFolder = folder;
    options.clock = [] { return kWhen; };
    return options;
}

}  // namespace

TEST(ImportRun, MirrorsTheFoldersAndReportsEveryFile)
{
    TempFolder src;
    TempFolder out;
    Copy("office/team.ics", src.path + "/cal/job/a.ics");
    Copy("office/review.vcs", src.path + "/cal/home/b.vcs");
    Copy("home/birthdays.ics", src.path + "/cal/home/C.ICS");
    Write(src.path + "/cal/bad.ics", "this is not a calendar\n");
    Write(src.path + "/cal/notes.txt", "BEGIN:VCALENDAR\n");
    const TextList files{src.q("cal/job/a.ics"), src.q("cal/home/b.vcs"), src.q("cal/home/C.ICS"),
                         src.q("cal/bad.ics"),    src.q("cal/gone.ics"),   src.q("cal/notes.txt"),
                         u"relative.ics"};
    Recorder recorder;
    const ImportResult result = RunImport(files, Into(out.q()), recorder);

    ASSERT_EQ(result.status, ImportResult::Status::Done) << Utf8(result.error);
    EXPECT_EQ(result.storePath, out.q("VarnelCalendars7.12.26 9.5.07.pst"));
    EXPECT_EQ(result.displayName, u"Varnel Calendars : Created - 7.12.26 9.5.07");
    EXPECT_EQ(recorder.created, result.storePath);
    EXPECT_EQ(result.filesImported, 3);
    // birthdays.ics holds two series; the review starts off its rule's pattern, so its start is
    // an appointment of its own beside the series.
    EXPECT_EQ(result.appointments, 5);
    ASSERT_EQ(result.failed.size(), 4u);
    for (const FailedFile& f : result.failed)
        EXPECT_FALSE(f.reason.empty()) << Utf8(f.path);
    EXPECT_EQ(result.failed[3].path, u"relative.ics");
    EXPECT_NE(result.failed[2].reason.find(u".vcs"), Text::npos) << Utf8(result.failed[2].reason);
    EXPECT_GT(recorder.yields, 7);
    ASSERT_EQ(recorder.events.size(), 14u);
    EXPECT_EQ(recorder.events[0], "start 0/7");

    // The folder path below the root ("/" or the drive's) of each file, parents first; every
    // folder once.
    Text base = src.q().substr(src.q().find(kPathSeparator) + 1);
    std::replace(base.begin(), base.end(), u'/', u'\\');
    EXPECT_EQ(result.folders.back(), base + u"\\cal\\job");
    EXPECT_TRUE(std::is_sorted(result.folders.begin(), result.folders.end()));

    const std::string tree = Tree(result.storePath);
    if (!kTreeRead)
        return;
    const std::string cal = Utf8(base) + "\\cal";
    EXPECT_NE(tree.find(cal + "\tIPF.Appointment\t0\t\n"), std::string::npos) << tree;
    EXPECT_NE(tree.find(cal + "\\home\tIPF.Appointment\t4\t"), std::string::npos) << tree;
    EXPECT_NE(tree.find(cal + "\\job\tIPF.Appointment\t1\tTeam sync\n"), std::string::npos) << tree;
}

TEST(ImportRun, DrivePathsShareFoldersAcrossDrives)
{
    // Files that do not exist here: the folders are still made, the files fail with a reason.
    TempFolder out;
    const TextList files{u"C:\\cal\\work\\a.ics", u"D:\\cal\\home\\b.vcs", u"E:\\cal\\home\\c.ics"};
    Recorder recorder;
    const ImportResult result = RunImport(files, Into(out.q()), recorder);
    ASSERT_EQ(result.status, ImportResult::Status::Done);
    EXPECT_EQ(result.folders, (std::vector<Text>{u"cal", u"cal\\home", u"cal\\work"}));
    EXPECT_EQ(result.failed.size(), 3u);
    const std::string tree = Tree(result.storePath);
    if (kTreeRead) {
        EXPECT_EQ(tree, "cal\tIPF.Appointment\t0\t\ncal\\home\tIPF.Appointment\t0\t\n"
                                      "cal\\work\tIPF.Appointment\t0\t\n");
    }
}

TEST(ImportRun, NeverOverwritesAndSaysWhyNoStoreWasWritten)
{
    TempFolder src;
    TempFolder out;
    Copy("office/team.ics", src.path + "/a/team.ics");
    Recorder recorder;

    // Nothing listed: no store.
    EXPECT_EQ(RunImport({}, Into(out.q()), recorder).status, ImportResult::Status::NothingToImport);
    EXPECT_EQ(RunImport({u"   "}, Into(out.q()), recorder).status, ImportResult::Status::NothingToImport);
    EXPECT_TRUE(fs::is_empty(out.path));

    // Two runs in the same second: the second store takes the next number.
    const ImportResult first = RunImport({src.q("a/team.ics")}, Into(out.q()), recorder);
    const auto firstSize = SizeOf(first.storePath);
    const ImportResult second = RunImport({src.q("a/team.ics")}, Into(out.q() + kPathSeparator), recorder);
    ASSERT_EQ(second.status, ImportResult::Status::Done) << Utf8(second.error);
    EXPECT_EQ(second.storePath, out.q("VarnelCalendars7.12.26 9.5.07 (2).pst"));
    EXPECT_EQ(SizeOf(first.storePath), firstSize);

    // A store path given outright is never replaced.
    ImportOptions exact = Into(out.q());
    exact.storePath = first.storePath;
    const ImportResult taken = RunImport({src.q("a/team.ics")}, exact, recorder);
    EXPECT_EQ(taken.status, ImportResult::Status::StoreFailed);
    EXPECT_FALSE(taken.error.empty());
    EXPECT_EQ(SizeOf(first.storePath), firstSize);

    // A destination that does not exist.
    const ImportResult nowhere = RunImport({src.q("a/team.ics")}, Into(out.q("missing")), recorder);
    EXPECT_EQ(nowhere.status, ImportResult::Status::StoreFailed);
    EXPECT_NE(nowhere.error.find(out.q("missing")), Text::npos) << Utf8(nowhere.error);
}
