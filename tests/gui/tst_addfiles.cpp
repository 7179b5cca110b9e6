// The add-files and add-folder buttons: what reaches the list, the import button, the busy cursor
// and the messages.
#include "WindowFixture.h"
#include "tests/filelist/FakeListing.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

class TestAddFiles : public QObject {
    Q_OBJECT

    WindowFixture fixture;
    std::unique_ptr<ScriptedPrompts>& prompts = fixture.prompts;

    frmStep1& open() { return fixture.open(); }
    static QStringList rows(FlexGrid& grid) { return WindowFixture::rows(grid); }

    static void touch(const QString& path)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }

    static const inline QString kTitle = QStringLiteral("Varnel vCalendar\\iCalendar Importer");

private slots:
    void cleanup()
    {
        fixture.close();
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    // Add files

    void pickedFilesAreAppendedAsGivenAndEnableImport()
    {
        frmStep1& w = open();
        const QStringList picked = {"/cal/b.ics", "/cal/a.vcs", "/cal/typed-by-hand.txt", "/cal/b.ics"};
        prompts->openResults = {{picked, 0, {}}};
        QTest::mouseClick(w.cmdAdd, Qt::LeftButton);
        QCOMPARE(prompts->openFilters, QStringList({"vCalendar & iCalendar Files (*.vcs,*.ics)|*.vcs;*.ics"}));
        QCOMPARE(prompts->openLimits, QVector<int>({1000}));
        QCOMPARE(rows(*w.grdFiles1), picked);
        QCOMPARE(w.lblCount1->text(), QStringLiteral("4 files"));
        QVERIFY(w.CmdExtractDBX->isEnabled());
        QCOMPARE(prompts->boxes.size(), 0);

        // The same file picked again is listed again.
        prompts->openResults = {{{"/cal/a.vcs"}, 0, {}}};
        QTest::mouseClick(w.cmdAdd, Qt::LeftButton);
        QCOMPARE(rows(*w.grdFiles1).count(QStringLiteral("/cal/a.vcs")), 2);
    }

    void cancelChangesNothing()
    {
        frmStep1& w = open();
        QTest::mouseClick(w.cmdAdd, Qt::LeftButton);
        QCOMPARE(prompts->openFilters.size(), 1);
        QCOMPARE(rows(*w.grdFiles1), QStringList({QString()}));
        QVERIFY(!w.CmdExtractDBX->isEnabled());
        QCOMPARE(prompts->boxes.size(), 0);
    }

    void dialogFailuresAreReportedAndAddNothing()
    {
        frmStep1& w = open();
        prompts->openResults = {{{}, kDialogBufferTooSmall, QStringLiteral("too many")},
                                {{}, 32755, QStringLiteral("Something went wrong")}};
        QTest::mouseClick(w.cmdAdd, Qt::LeftButton);
        QTest::mouseClick(w.cmdAdd, Qt::LeftButton);
        QCOMPARE(prompts->boxes.size(), 2);
        QCOMPARE(prompts->boxes[0].prompt, QStringLiteral("Please select only 1000 files at a time"));
        QCOMPARE(prompts->boxes[0].style, 48);
        QCOMPARE(prompts->boxes[0].title, kTitle);
        QCOMPARE(prompts->boxes[1].prompt, QStringLiteral("32755:Something went wrong"));
        QCOMPARE(prompts->boxes[1].style, 48);
        QCOMPARE(rows(*w.grdFiles1), QStringList({QString()}));
        QVERIFY(!w.CmdExtractDBX->isEnabled());
    }

    // Add folder

    void folderAddKeepsOnlyCalendarFilesAsWritten()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + QLatin1Char('/');
        for (const char* f : {"A.VCS", "b.ics", "notes.txt", "x.vcs.bak", "trailing.ics "})
            touch(root + QLatin1String(f));
        frmStep1& w = open();
        prompts->folderResults = {dir.path()};
        prompts->answers = {MsgBoxResult::Ok};
        QTest::mouseClick(w.CmdAddFolder, Qt::LeftButton);

        QCOMPARE(prompts->folderTitles, QStringList({"Choose Source Folder..."}));
        QCOMPARE(rows(*w.grdFiles1), QStringList({root + "A.VCS", root + "b.ics", root + "trailing.ics "}));
        QCOMPARE(prompts->boxes.size(), 1);
        QCOMPARE(prompts->boxes[0].prompt, QStringLiteral("3 Files Added to List."));
        QCOMPARE(prompts->boxes[0].style, 0);
        QCOMPARE(prompts->boxes[0].title, kTitle);
        QVERIFY(w.CmdExtractDBX->isEnabled());
    }

    void aFolderWithoutCalendarsDisablesImport()
    {
        QTemporaryDir dir;
        touch(dir.path() + QStringLiteral("/readme.txt"));
        frmStep1& w = open();
        w.AddFileToList(QStringLiteral("/earlier/a.ics"));
        w.CmdExtractDBX->setEnabled(true);
        prompts->folderResults = {dir.path()};
        QTest::mouseClick(w.CmdAddFolder, Qt::LeftButton);
        QCOMPARE(prompts->boxes.size(), 1);
        QCOMPARE(prompts->boxes[0].prompt, QStringLiteral("0 Files Added to List."));
        QCOMPARE(rows(*w.grdFiles1), QStringList({"/earlier/a.ics"}));
        QVERIFY(!w.CmdExtractDBX->isEnabled());
    }

    void cancellingThePickerChangesNothing()
    {
        frmStep1& w = open();
        w.CmdExtractDBX->setEnabled(true);
        QTest::mouseClick(w.CmdAddFolder, Qt::LeftButton);
        QCOMPARE(prompts->folderTitles.size(), 1);
        QCOMPARE(prompts->boxes.size(), 0);
        QVERIFY(w.CmdExtractDBX->isEnabled());
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void theWalkGetsOneTrailingSeparatorAndRunsUnderTheBusyCursor()
    {
        frmStep1& w = open();
        FakeTree tree;
        tree.folders[QStringLiteral("/")] = {{}, {"root.ics"}};
        tree.folders[QStringLiteral("/cal/")] = {{}, {"a.ics"}};
        QList<Qt::CursorShape> cursors;
        tree.onList = [&](const QString&) {
            const QCursor* c = QGuiApplication::overrideCursor();
            cursors << (c ? c->shape() : Qt::ArrowCursor);
        };
        w.setFolderListing(tree.factory());
        prompts->folderResults = {QStringLiteral("/"), QStringLiteral("/cal")};
        QTest::mouseClick(w.CmdAddFolder, Qt::LeftButton);
        QTest::mouseClick(w.CmdAddFolder, Qt::LeftButton);
        QCOMPARE(tree.existsAsked, QStringList({"/", "/cal/"}));
        QVERIFY(!cursors.isEmpty());
        QVERIFY(cursors.count(Qt::WaitCursor) == cursors.size());
        QVERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(rows(*w.grdFiles1), QStringList({"/root.ics", "/cal/a.ics"}));
    }

    void aFolderThatCannotBeReadIsNamedAndNothingIsAdded()
    {
        frmStep1& w = open();
        FakeTree tree;
        tree.folders[QStringLiteral("/cal/")] = {{"locked"}, {"a.ics"}};
        tree.failing = QStringLiteral("/cal/locked/");
        w.setFolderListing(tree.factory());
        prompts->folderResults = {QStringLiteral("/cal")};
        QTest::mouseClick(w.CmdAddFolder, Qt::LeftButton);
        QCOMPARE(prompts->boxes.size(), 1);
        QVERIFY2(prompts->boxes[0].prompt.contains(QStringLiteral("/cal/locked/")), qPrintable(prompts->boxes[0].prompt));
        QVERIFY(prompts->boxes[0].prompt.contains(QStringLiteral("Permission denied")));
        QCOMPARE(prompts->boxes[0].style, 48);
        QCOMPARE(rows(*w.grdFiles1), QStringList({QString()}));
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void aLinkLoopEndsTheWalk()
    {
        QTemporaryDir dir;
        const QString root = dir.path() + QLatin1Char('/');
        QVERIFY(QDir(root).mkpath(QStringLiteral("a/b")));
        touch(root + QStringLiteral("a/b/deep.ics"));
        QVERIFY(QFile::link(root, root + QStringLiteral("a/b/up")));
        frmStep1& w = open();
        prompts->folderResults = {dir.path()};
        QTest::mouseClick(w.CmdAddFolder, Qt::LeftButton);
        QCOMPARE(rows(*w.grdFiles1), QStringList({root + "a/b/deep.ics"}));
        QCOMPARE(prompts->boxes.value(0).prompt, QStringLiteral("1 Files Added to List."));
    }

    void aClearDuringTheAddRestartsTheListFromRowZero()
    {
        frmStep1& w = open();
        FakeTree tree;
        tree.folders[QStringLiteral("/cal/")] = {{}, {"1.ics", "2.ics", "3.ics", "4.ics"}};
        w.setFolderListing(tree.factory());
        prompts->folderResults = {QStringLiteral("/cal")};
        // Runs in the first yield after the second file went in.
        bool cleared = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &w, [&] {
            if (!cleared && w.grdFiles1->Rows() == 2) {
                cleared = true;
                w.ClearFileList();
            }
        });
        poll.start(0);
        QTest::mouseClick(w.CmdAddFolder, Qt::LeftButton);
        poll.stop();
        QVERIFY(cleared);
        QCOMPARE(rows(*w.grdFiles1), QStringList({"/cal/3.ics", "/cal/4.ics"}));
        QCOMPARE(w.lblCount1->text(), QStringLiteral("2 files"));
        QCOMPARE(prompts->boxes.value(0).prompt, QStringLiteral("4 Files Added to List."));
    }
};

QTEST_MAIN(TestAddFiles)
#include "tst_addfiles.moc"
