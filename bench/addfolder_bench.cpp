// Figures for adding a folder: the walk of a real tree beside `find DIR -type f`, and the add loop
// into the grid at two sizes. Prints a table; asserts nothing.
//   addfolder_bench TREE     TREE made by bench/make_tree.py
#include "app/frmStep1.h"
#include "filelist/QtText.h"
#include "filelist/FlexGrid.h"
#include "filelist/UserPrompts.h"
#include "filelist/pathLogger.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class SilentPrompts : public UserPrompts {
public:
    QString folder;
    int MsgBox(const QString&, int, const QString&) override { return MsgBoxResult::Ok; }
    OpenDialogResult ShowOpen(const QString&, int) override { return {}; }
    QString BrowseForFolder(const QString&) override { return folder; }
};

// One folder holding `count` calendar files, held in memory so that only the loop is measured.
class ManyFiles : public FolderListing {
public:
    explicit ManyFiles(int count)
    {
        for (int i = 0; i < count; ++i)
            m_files.push_back(ToText(QStringLiteral("event-%1.ics").arg(i, 6, 10, QLatin1Char('0'))));
    }
    bool FolderExists(const Text&) override { return true; }
    TextList SubFolders(const Text&) override { return {}; }
    TextList Files(const Text&) override { return m_files; }

private:
    TextList m_files;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double TimeWalk(const QString& root, qsizetype* files)
{
    QElapsedTimer t;
    t.start();
    pathLogger walker;
    walker.PathLogInit();
    walker.LogPath(ToText(root));
    *files = walker.fullFileNames()->Count();
    walker.Terminate();
    return t.nsecsElapsed() / 1e9;
}

double TimeFind(const QString& root, qsizetype* lines)
{
    QElapsedTimer t;
    t.start();
    QProcess find;
    find.start(QStringLiteral("find"), {root, QStringLiteral("-type"), QStringLiteral("f")});
    find.waitForFinished(-1);
    const QByteArray out = find.readAllStandardOutput();
    const double seconds = t.nsecsElapsed() / 1e9;
    *lines = out.count('\n');
    return seconds;
}

double TimeAddLoop(int count)
{
    SilentPrompts prompts;
    prompts.folder = QStringLiteral("/bench");
    frmStep1 window(prompts, [] {});
    window.setFolderListing([count] { return std::make_unique<ManyFiles>(count); });
    window.show();
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    window.CmdAddFolder_Click();
    const double seconds = t.nsecsElapsed() / 1e9;
    if (window.grdFiles1->Rows() != count)
        std::fprintf(stderr, "expected %d rows, got %d\n", count, window.grdFiles1->Rows());
    return seconds;
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TREE\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);

    std::vector<double> walk, find;
    qsizetype walked = 0, found = 0;
    TimeWalk(root, &walked);  // warm the cache
    for (int i = 0; i < 5; ++i) {
        walk.push_back(TimeWalk(root, &walked));
        find.push_back(TimeFind(root, &found));
    }
    std::printf("| measure | figure |\n|---|---|\n");
    std::printf("| walk of %lld files (median of 5) | %.3f s |\n", static_cast<long long>(walked), Median(walk));
    std::printf("| find -type f, same tree (%lld files) | %.3f s |\n", static_cast<long long>(found), Median(find));
    std::printf("| walk / find | %.2f |\n", Median(walk) / Median(find));

    const double small = TimeAddLoop(10000);
    const double large = TimeAddLoop(100000);
    std::printf("| add loop, 10,000 files | %.2f s (%.1f us a file) |\n", small, small / 10000 * 1e6);
    std::printf("| add loop, 100,000 files | %.2f s (%.1f us a file) |\n", large, large / 100000 * 1e6);
    std::printf("| per-file cost 100,000 / 10,000 | %.2f |\n", (large / 100000) / (small / 10000));
    return 0;
}
