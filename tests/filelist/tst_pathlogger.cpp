// The folder walker: its lists, keys and counter, the order of a breadth-first walk, its failures,
// and the file-system listing underneath it.
#include "FakeListing.h"
#include "filelist/NativePath.h"
#include "filelist/pathLogger.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename List>
QStringList Keys(const List& list)
{
    QStringList keys;
    for (int i = 1; i <= list.Count(); ++i)
        keys << ToQString(list.Key(i));
    return keys;
}

QStringList Texts(const pathLogger::TextList& list) { return ToQStringList(list.Values()); }

QList<int> Numbers(const pathLogger::NumberList& list)
{
    QList<int> numbers;
    for (int n : list.Values())
        numbers << n;
    return numbers;
}

// The tree of a.ics and b.txt, X holding c.vcs, Y holding only Z, Z holding d.ics.
FakeTree DataTree()
{
    FakeTree tree;
    tree.folders[QStringLiteral("/data/")] = {{"X", "Y"}, {"a.ics", "b.txt"}};
    tree.folders[QStringLiteral("/data/X/")] = {{}, {"c.vcs"}};
    tree.folders[QStringLiteral("/data/Y/")] = {{"Z"}, {}};
    tree.folders[QStringLiteral("/data/Y/Z/")] = {{}, {"d.ics"}};
    return tree;
}

void MakeFile(const QString& path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

}  // namespace

class TestPathLogger : public QObject {
    Q_OBJECT

private slots:
    void walksBreadthFirstWithAllFourLists()
    {
        FakeTree tree = DataTree();
        pathLogger walker(tree.factory());
        walker.PathLogInit();
        walker.setFullFileNamesOnly(false);
        walker.LogPath(u"/data/");

        QCOMPARE(Texts(*walker.pathNames()), QStringList({"/data/", "/data/X/", "/data/Y/", "/data/Y/Z/"}));
        QCOMPARE(Keys(*walker.pathNames()), QStringList({"K0", "K2", "K3", "K4"}));
        QCOMPARE(Texts(*walker.fullFileNames()),
                 QStringList({"/data/a.ics", "/data/b.txt", "/data/X/c.vcs", "/data/Y/Z/d.ics"}));
        QCOMPARE(Keys(*walker.fullFileNames()), QStringList({"K1", "K2", "K3", "K4"}));
        QCOMPARE(Texts(*walker.fileNames()), QStringList({"a.ics", "b.txt", "c.vcs", "d.ics"}));
        QCOMPARE(Keys(*walker.fileNames()), QStringList({"K1", "K2", "K3", "K4"}));
        QCOMPARE(Numbers(*walker.pathPointers()), QList<int>({1, 1, 2, 4}));
        QCOMPARE(Keys(*walker.pathPointers()), QStringList({"K1", "K2", "K3", "K4"}));
        QCOMPARE(walker.Count(), 5);
    }

    void fullFileNamesOnlyFillsTwoLists()
    {
        FakeTree tree = DataTree();
        pathLogger walker(tree.factory());
        QVERIFY(!walker.fullFileNamesOnly());
        walker.PathLogInit();
        QVERIFY(walker.fullFileNamesOnly());
        walker.LogPath(u"/data");
        QCOMPARE(Texts(*walker.pathNames()), QStringList({"/data/", "/data/X/", "/data/Y/", "/data/Y/Z/"}));
        QCOMPARE(walker.fullFileNames()->Count(), 4);
        QVERIFY(walker.fileNames()->isEmpty());
        QVERIFY(walker.pathPointers()->isEmpty());
        QCOMPARE(walker.Count(), 5);
    }

    void rootWithOrWithoutSeparatorGivesTheSameLists()
    {
        FakeTree tree = DataTree();
        QStringList seen[2];
        int i = 0;
        for (const char* root : {"/data", "/data/"}) {
            pathLogger walker(tree.factory());
            walker.PathLogInit();
            walker.LogPath(ToText(QString::fromLatin1(root)));
            seen[i++] = Texts(*walker.pathNames()) + Texts(*walker.fullFileNames());
        }
        QCOMPARE(seen[0], seen[1]);
        QCOMPARE(seen[0].first(), QStringLiteral("/data/"));
    }

    void missingRootAndEmptyFolder()
    {
        FakeTree tree;
        tree.folders[QStringLiteral("/empty/")] = {};
        pathLogger walker(tree.factory());
        walker.PathLogInit();
        walker.LogPath(u"/nowhere/");
        QCOMPARE(walker.Count(), 0);
        QVERIFY(walker.pathNames()->isEmpty());
        QVERIFY(walker.fullFileNames()->isEmpty());

        pathLogger second(tree.factory());
        second.PathLogInit();
        second.LogPath(u"/empty/");
        QCOMPARE(Texts(*second.pathNames()), QStringList({"/empty/"}));
        QVERIFY(second.fullFileNames()->isEmpty());
        QCOMPARE(second.Count(), 1);
    }

    void listsOutliveTerminateAndTheWalker()
    {
        FakeTree tree = DataTree();
        std::shared_ptr<pathLogger::TextList> kept;
        {
            pathLogger walker(tree.factory());
            walker.PathLogInit();
            walker.LogPath(u"/data/");
            kept = walker.fullFileNames();
            walker.Terminate();
            QCOMPARE(kept->Count(), 4);
            // The walker lets go: what it hands out now is a fresh, empty list.
            QVERIFY(walker.fileNames()->isEmpty());
            QVERIFY(walker.fullFileNames()->isEmpty());
            QCOMPARE(walker.Count(), 5);
            QVERIFY(walker.fullFileNamesOnly());
        }
        QCOMPARE(Texts(*kept), QStringList({"/data/a.ics", "/data/b.txt", "/data/X/c.vcs", "/data/Y/Z/d.ics"}));
    }

    void misuseFails()
    {
        FakeTree tree = DataTree();
        pathLogger fresh(tree.factory());
        QVERIFY_THROWS_EXCEPTION(pathLogger::Error, fresh.LogPath(u"/data/"));

        pathLogger walker(tree.factory());
        walker.PathLogInit();
        walker.LogPath(u"/data/");
        walker.Terminate();
        QVERIFY_THROWS_EXCEPTION(pathLogger::Error, walker.LogPath(u"/data/"));

        // A second walk without PathLogInit stops at the root's key, keeping the first walk.
        pathLogger twice(tree.factory());
        twice.PathLogInit();
        twice.LogPath(u"/data/");
        QVERIFY_THROWS_EXCEPTION(pathLogger::TextList::DuplicateKey, twice.LogPath(u"/data/X/"));
        QCOMPARE(twice.Count(), 1);
        QCOMPARE(twice.pathNames()->Count(), 4);
        QCOMPARE(twice.fullFileNames()->Count(), 4);
    }

    void countersFailInsteadOfWrapping()
    {
        std::int32_t n = std::numeric_limits<std::int32_t>::max() - 1;
        pathLogger::Increment(n);
        QCOMPARE(n, std::numeric_limits<std::int32_t>::max());
        QVERIFY_THROWS_EXCEPTION(pathLogger::Error, pathLogger::Increment(n));
        QCOMPARE(n, std::numeric_limits<std::int32_t>::max());
    }

    void aListingFailureStopsTheWalkKeepingWhatWasFound()
    {
        FakeTree tree = DataTree();
        tree.failing = QStringLiteral("/data/Y/");
        pathLogger walker(tree.factory());
        walker.PathLogInit();
        try {
            walker.LogPath(u"/data/");
            QFAIL("the walk went on past a folder it could not list");
        } catch (const ListingError& e) {
            QCOMPARE(ToQString(e.folder()), QStringLiteral("/data/Y/"));
            QCOMPARE(ToQString(e.reason()), QStringLiteral("Permission denied"));
        }
        QCOMPARE(Texts(*walker.fullFileNames()), QStringList({"/data/a.ics", "/data/b.txt", "/data/X/c.vcs"}));
        QCOMPARE(walker.Count(), 4);
    }

    void diskListingSortsByNameAndKeepsEveryKindOfFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path() + QLatin1Char('/');
        QVERIFY(QDir(root).mkpath(QStringLiteral("Y/Z")));
        QVERIFY(QDir(root).mkpath(QStringLiteral("X")));
        for (const char* f : {"b.txt", "a.ics", "X/c.vcs", "Y/Z/d.ics", "B.ICS"})
            MakeFile(root + QLatin1String(f));

        pathLogger walker;
        walker.PathLogInit();
        walker.setFullFileNamesOnly(false);
        walker.LogPath(ToText(root));
        QCOMPARE(Texts(*walker.pathNames()), QStringList({root, root + "X/", root + "Y/", root + "Y/Z/"}));
        QCOMPARE(Texts(*walker.fileNames()), QStringList({"B.ICS", "a.ics", "b.txt", "c.vcs", "d.ics"}));
        QCOMPARE(Numbers(*walker.pathPointers()), QList<int>({1, 1, 1, 2, 4}));
        QCOMPARE(walker.Count(), 6);
    }

    void diskListingTreatsAFileRootAsMissing()
    {
        QTemporaryDir dir;
        const QString file = dir.path() + QStringLiteral("/a.ics");
        MakeFile(file);
        pathLogger walker;
        walker.PathLogInit();
        walker.LogPath(ToText(file));
        QCOMPARE(walker.Count(), 0);
        QVERIFY(walker.pathNames()->isEmpty());
    }

    void diskListingDoesNotFollowFolderLinks()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + QLatin1Char('/');
        QVERIFY(QDir(root).mkpath(QStringLiteral("cal/sub")));
        MakeFile(root + QStringLiteral("cal/sub/e.ics"));
        MakeFile(root + QStringLiteral("outside.ics"));
        // A loop back to the top, and a link to a file outside the tree.
        QVERIFY(QFile::link(root + QStringLiteral("cal"), root + QStringLiteral("cal/sub/loop")));
        QVERIFY(QFile::link(root + QStringLiteral("outside.ics"), root + QStringLiteral("cal/linked.ics")));

        pathLogger walker;
        walker.PathLogInit();
        walker.LogPath(ToText(root + QStringLiteral("cal")));
        QCOMPARE(Texts(*walker.pathNames()), QStringList({root + "cal/", root + "cal/sub/"}));
        QCOMPARE(Texts(*walker.fullFileNames()), QStringList({root + "cal/linked.ics", root + "cal/sub/e.ics"}));
    }

    void namesThatAreNotUtf8AreWalkedAndOpened()
    {
        // Bytes that are not UTF-8 come through as lone surrogates and go back unchanged.
        const std::string bytes = "caf\xC3\xA9 a\xFF" "b \xED\xA0\x80 \xC0\xAF \xF0\x9F\x93\x85 z\xE2\x82";
        const QString text = ToQString(TextFromNativePath(bytes));
        QVERIFY(text.startsWith(QStringLiteral("caf\u00E9 a") + QChar(char16_t(0xDCFF)) + QLatin1Char('b')));
        QVERIFY(text.contains(QString::fromUtf8("\xF0\x9F\x93\x85")));
        QCOMPARE(NativePathFromText(ToText(text)), bytes);
        QCOMPARE(ToQString(TextFromNativePath("plain/a.ics")), QStringLiteral("plain/a.ics"));

        // A folder whose name is not UTF-8 is walked, and the file found in it opens.
        QTemporaryDir dir;
        const std::string root = dir.path().toStdString() + "/";
        const std::string odd = root + "a\xFF" "b";
        QVERIFY(::mkdir(odd.c_str(), 0700) == 0);
        { std::ofstream(odd + "/x\xFE.ics") << "BEGIN:VCALENDAR"; }
        pathLogger walker;
        walker.PathLogInit();
        walker.LogPath(ToText(dir.path() + QLatin1Char('/')));
        QCOMPARE(walker.fullFileNames()->Count(), 1);
        const Text found = walker.fullFileNames()->Item(1);
        QCOMPARE(NativePathFromText(found), odd + "/x\xFE.ics");
        QVERIFY(std::ifstream(NativePathFromText(found)).good());
    }

    void diskListingNamesAnUnreadableFolder()
    {
        if (::geteuid() == 0)
            QSKIP("folder permissions do not bind root");
        QTemporaryDir dir;
        const QString root = dir.path() + QLatin1Char('/');
        QVERIFY(QDir(root).mkpath(QStringLiteral("locked")));
        QFile::setPermissions(root + QStringLiteral("locked"), QFileDevice::Permissions());
        pathLogger walker;
        walker.PathLogInit();
        try {
            walker.LogPath(ToText(root));
            QFAIL("an unreadable folder was walked");
        } catch (const ListingError& e) {
            QCOMPARE(ToQString(e.folder()), root + QStringLiteral("locked/"));
            QVERIFY(!e.reason().empty());
        }
        QFile::setPermissions(root + QStringLiteral("locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                   | QFileDevice::ExeOwner);
    }
};

QTEST_GUILESS_MAIN(TestPathLogger)
#include "tst_pathlogger.moc"
