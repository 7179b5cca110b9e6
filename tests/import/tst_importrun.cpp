// The import run over real files: the store it writes (read back by libpff), what it reports
// file by file, and the runs that cannot or need not write a store.
#include "import/ImportRun.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QFile>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

// A temporary folder, with paths below it as QStrings.
struct TempFolder : TempDir {
    TempFolder()
        : TempDir("importrun")
    {
    }
    QString q(const std::string& below = {}) const { return QString::fromStdString(below.empty() ? path : path + "/" + below); }
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

// The store's folders as libpff reads them, and pstcheck's verdict.
std::string Tree(const QString& store)
{
    std::string out;
    EXPECT_EQ(RunCommand(std::string(PSTCHECK) + " '" + store.toStdString() + "'", &out), 0) << out;
    out.clear();
    EXPECT_EQ(RunCommand("/usr/bin/python3 " STORE_TREE " '" + store.toStdString() + "'", &out), 0) << out;
    return out;
}

// Records what the run reports.
struct Recorder : ImportObserver {
    void Yield() override { ++yields; }
    void StoreCreated(const QString& path, const QString&) override { created = path; }
    void FileStarting(int index, int total) override { events << QStringLiteral("start %1/%2").arg(index).arg(total); }
    void FileDone(int index, int, const QString&, const QString& folder, int appointments, const QString& reason) override
    {
        events << QStringLiteral("done %1 %2 %3 %4").arg(index).arg(folder).arg(appointments).arg(reason.isEmpty() ? "ok" : "failed");
    }
    int yields = 0;
    QString created;
    QStringList events;
};

const QDateTime kWhen(QDate(2026, 12, 7), QTime(9, 5, 7));

ImportOptions Into(const QString& folder)
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
    const QStringList files{src.q("cal/job/a.ics"), src.q("cal/home/b.vcs"), src.q("cal/home/C.ICS"),
                            src.q("cal/bad.ics"),    src.q("cal/gone.ics"),   src.q("cal/notes.txt"),
                            QStringLiteral("relative.ics")};
    Recorder recorder;
    const ImportResult result = RunImport(files, Into(out.q()), recorder);

    ASSERT_EQ(result.status, ImportResult::Status::Done) << result.error.toStdString();
    EXPECT_EQ(result.storePath, out.q("VarnelCalendars7.12.26 9.5.07.pst"));
    EXPECT_EQ(result.displayName, QStringLiteral("Varnel Calendars : Created - 7.12.26 9.5.07"));
    EXPECT_EQ(recorder.created, result.storePath);
    EXPECT_EQ(result.filesImported, 3);
    // birthdays.ics holds two series; the review starts off its rule's pattern, so its start is
    // an appointment of its own beside the series.
    EXPECT_EQ(result.appointments, 5);
    ASSERT_EQ(result.failed.size(), 4u);
    for (const FailedFile& f : result.failed)
        EXPECT_FALSE(f.reason.isEmpty()) << f.path.toStdString();
    EXPECT_EQ(result.failed[3].path, QStringLiteral("relative.ics"));
    EXPECT_TRUE(result.failed[2].reason.contains(QStringLiteral(".vcs"))) << result.failed[2].reason.toStdString();
    EXPECT_GT(recorder.yields, 7);
    ASSERT_EQ(recorder.events.size(), 14);
    EXPECT_EQ(recorder.events[0], QStringLiteral("start 0/7"));

    // The folder path below "/" of each file, parents first; every folder once.
    const QString base = src.q().mid(1).replace(QLatin1Char('/'), QLatin1Char('\\'));
    EXPECT_EQ(result.folders.back(), base + QStringLiteral("\\cal\\job"));
    EXPECT_TRUE(std::is_sorted(result.folders.begin(), result.folders.end()));

    const std::string tree = Tree(result.storePath);
    const std::string cal = base.toStdString() + "\\cal";
    EXPECT_NE(tree.find(cal + "\tIPF.Appointment\t0\t\n"), std::string::npos) << tree;
    EXPECT_NE(tree.find(cal + "\\home\tIPF.Appointment\t4\t"), std::string::npos) << tree;
    EXPECT_NE(tree.find(cal + "\\job\tIPF.Appointment\t1\tTeam sync\n"), std::string::npos) << tree;
}

TEST(ImportRun, DrivePathsShareFoldersAcrossDrives)
{
    // Files that do not exist here: the folders are still made, the files fail with a reason.
    TempFolder out;
    const QStringList files{QStringLiteral("C:\\cal\\work\\a.ics"), QStringLiteral("D:\\cal\\home\\b.vcs"),
                            QStringLiteral("E:\\cal\\home\\c.ics")};
    Recorder recorder;
    const ImportResult result = RunImport(files, Into(out.q()), recorder);
    ASSERT_EQ(result.status, ImportResult::Status::Done);
    EXPECT_EQ(result.folders, (std::vector<QString>{"cal", "cal\\home", "cal\\work"}));
    EXPECT_EQ(result.failed.size(), 3u);
    EXPECT_EQ(Tree(result.storePath), "cal\tIPF.Appointment\t0\t\ncal\\home\tIPF.Appointment\t0\t\n"
                                      "cal\\work\tIPF.Appointment\t0\t\n");
}

TEST(ImportRun, NeverOverwritesAndSaysWhyNoStoreWasWritten)
{
    TempFolder src;
    TempFolder out;
    Copy("office/team.ics", src.path + "/a/team.ics");
    Recorder recorder;

    // Nothing listed: no store.
    EXPECT_EQ(RunImport({}, Into(out.q()), recorder).status, ImportResult::Status::NothingToImport);
    EXPECT_EQ(RunImport({QStringLiteral("   ")}, Into(out.q()), recorder).status, ImportResult::Status::NothingToImport);
    EXPECT_TRUE(fs::is_empty(out.path));

    // Two runs in the same second: the second store takes the next number.
    const ImportResult first = RunImport({src.q("a/team.ics")}, Into(out.q()), recorder);
    const auto firstSize = fs::file_size(first.storePath.toStdString());
    const ImportResult second = RunImport({src.q("a/team.ics")}, Into(out.q() + QLatin1Char('/')), recorder);
    ASSERT_EQ(second.status, ImportResult::Status::Done) << second.error.toStdString();
    EXPECT_EQ(second.storePath, out.q("VarnelCalendars7.12.26 9.5.07 (2).pst"));
    EXPECT_EQ(fs::file_size(first.storePath.toStdString()), firstSize);

    // A store path given outright is never replaced.
    ImportOptions exact = Into(out.q());
    exact.storePath = first.storePath;
    const ImportResult taken = RunImport({src.q("a/team.ics")}, exact, recorder);
    EXPECT_EQ(taken.status, ImportResult::Status::StoreFailed);
    EXPECT_FALSE(taken.error.isEmpty());
    EXPECT_EQ(fs::file_size(first.storePath.toStdString()), firstSize);

    // A destination that does not exist.
    const ImportResult nowhere = RunImport({src.q("a/team.ics")}, Into(out.q("missing")), recorder);
    EXPECT_EQ(nowhere.status, ImportResult::Status::StoreFailed);
    EXPECT_TRUE(nowhere.error.contains(out.q("missing"))) << nowhere.error.toStdString();
}
