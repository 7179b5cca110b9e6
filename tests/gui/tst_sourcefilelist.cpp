// The file list held in the grid: appending, the count label, the current cell, and clearing with
// and without the question.
#include "WindowFixture.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <memory>

class TestSourceFileList : public QObject {
    Q_OBJECT

    WindowFixture fixture;
    std::unique_ptr<ScriptedPrompts>& prompts = fixture.prompts;

    frmStep1& open() { return fixture.open(); }
    static QStringList rows(FlexGrid& grid) { return WindowFixture::rows(grid); }

    static const inline QString kClearQuestion =
        QStringLiteral("Do you want to clear all the files in the list\r\n Proceed?");

private slots:
    void cleanup()
    {
        fixture.close();
    }

    void firstAppendFillsRowZeroAndNarrowsTheColumn()
    {
        frmStep1& w = open();
        QCOMPARE(w.grdFiles1->ColWidth(0), 50000);
        w.AddFileToList(QStringLiteral("/home/ann/cal/a.ics"));
        QCOMPARE(rows(*w.grdFiles1), QStringList({"/home/ann/cal/a.ics"}));
        QCOMPARE(w.lblCount1->text(), QStringLiteral("1 files"));
        QCOMPARE(w.grdFiles1->ColWidth(0), 10000);
        QCOMPARE(w.grdFiles1->columnWidth(0), 666);
        QCOMPARE(w.grdFiles1->Row(), 0);
        QCOMPARE(w.grdFiles1->Col(), 0);
    }

    void appendsKeepOrderDuplicatesAndMoveTheCurrentCell()
    {
        frmStep1& w = open();
        const QStringList paths = {"/d/a.ics", "/d/b.vcs", "/d/a.ics"};
        for (const QString& p : paths)
            w.AddFileToList(p);
        QCOMPARE(rows(*w.grdFiles1), paths);
        QCOMPARE(w.lblCount1->text(), QStringLiteral("3 files"));
        QCOMPARE(w.grdFiles1->Row(), 2);
        QCOMPARE(w.grdFiles1->Col(), 0);
        QCOMPARE(w.grdFiles1->currentRow(), 2);
        // The column is set only when the list was empty: a width changed since then stays.
        w.grdFiles1->setColWidth(0, 20000);
        w.AddFileToList(QStringLiteral("/d/c.ics"));
        QCOMPARE(w.grdFiles1->ColWidth(0), 20000);
        QCOMPARE(w.lblCount1->text(), QStringLiteral("4 files"));
    }

    void appendsAfterTheUserMovedTheCurrentCellStillGoLast()
    {
        frmStep1& w = open();
        w.AddFileToList(QStringLiteral("/d/a.ics"));
        w.AddFileToList(QStringLiteral("/d/b.ics"));
        w.grdFiles1->setCurrentCell(0, 0);
        QCOMPARE(w.grdFiles1->Row(), 0);
        w.AddFileToList(QStringLiteral("/d/c.ics"));
        QCOMPARE(rows(*w.grdFiles1), QStringList({"/d/a.ics", "/d/b.ics", "/d/c.ics"}));
        QCOMPARE(w.grdFiles1->Row(), 2);
    }

    void clearingAnEmptyListAsksNothing()
    {
        frmStep1& w = open();
        QTest::mouseClick(w.cmdClear1, Qt::LeftButton);
        QCOMPARE(prompts->boxes.size(), 0);
        QCOMPARE(w.grdFiles1->Rows(), 1);
        QCOMPARE(w.lblCount1->text(), QStringLiteral("0 files"));
    }

    void clearAnsweredNoKeepsEverything()
    {
        frmStep1& w = open();
        w.AddFileToList(QStringLiteral("/d/a.ics"));
        w.AddFileToList(QStringLiteral("/d/b.ics"));
        prompts->answers = {MsgBoxResult::No};
        QTest::mouseClick(w.cmdClear1, Qt::LeftButton);

        QCOMPARE(prompts->boxes.size(), 1);
        QCOMPARE(prompts->boxes[0].prompt, kClearQuestion);
        QCOMPARE(prompts->boxes[0].style, 36);
        QCOMPARE(prompts->boxes[0].title, QStringLiteral("Varnel vCalendar\\iCalendar Importer"));
        QCOMPARE(rows(*w.grdFiles1), QStringList({"/d/a.ics", "/d/b.ics"}));
        QCOMPARE(w.lblCount1->text(), QStringLiteral("2 files"));
        QCOMPARE(w.grdFiles1->Row(), 0);
        QCOMPARE(w.grdFiles1->Col(), 0);
    }

    void clearAnsweredYesEmptiesAndTheNextAppendStartsAtRowZero()
    {
        frmStep1& w = open();
        for (const char* p : {"/d/a.ics", "/d/b.ics", "/d/c.ics"})
            w.AddFileToList(QString::fromLatin1(p));
        prompts->answers = {MsgBoxResult::Yes};
        QTest::mouseClick(w.cmdClear1, Qt::LeftButton);

        QCOMPARE(rows(*w.grdFiles1), QStringList({QString()}));
        QCOMPARE(w.lblCount1->text(), QStringLiteral("0 files"));
        QCOMPARE(w.grdFiles1->Row(), 0);

        w.AddFileToList(QStringLiteral("/d/z.vcs"));
        QCOMPARE(rows(*w.grdFiles1), QStringList({"/d/z.vcs"}));
        QCOMPARE(w.lblCount1->text(), QStringLiteral("1 files"));
    }

    void clearingLeavesTheImportButtonAsItWas()
    {
        for (bool enabled : {false, true}) {
            frmStep1& w = open();
            w.AddFileToList(QStringLiteral("/d/a.ics"));
            w.CmdExtractDBX->setEnabled(enabled);
            prompts->answers = {MsgBoxResult::Yes};
            QTest::mouseClick(w.cmdClear1, Qt::LeftButton);
            QCOMPARE(w.lblCount1->text(), QStringLiteral("0 files"));
            QCOMPARE(w.CmdExtractDBX->isEnabled(), enabled);
            cleanup();
        }
    }

    void anEmptyTextInRowZeroMakesTheListEmptyAgain()
    {
        frmStep1& w = open();
        w.AddFileToList(QString());
        QCOMPARE(w.grdFiles1->Rows(), 1);
        QCOMPARE(w.lblCount1->text(), QStringLiteral("1 files"));

        // Judged by the cell's text, the list is empty: no question...
        QTest::mouseClick(w.cmdClear1, Qt::LeftButton);
        QCOMPARE(prompts->boxes.size(), 0);
        QCOMPARE(w.lblCount1->text(), QStringLiteral("1 files"));

        // ...and the next path overwrites row 0 instead of adding a row.
        w.AddFileToList(QStringLiteral("/d/a.ics"));
        QCOMPARE(rows(*w.grdFiles1), QStringList({"/d/a.ics"}));
        QCOMPARE(w.lblCount1->text(), QStringLiteral("1 files"));
    }

    void anEmptyTextBelowRowZeroDoesNotEmptyTheList()
    {
        frmStep1& w = open();
        w.AddFileToList(QStringLiteral("/d/a.ics"));
        w.AddFileToList(QString());
        QCOMPARE(w.grdFiles1->Rows(), 2);
        prompts->answers = {MsgBoxResult::No};
        QTest::mouseClick(w.cmdClear1, Qt::LeftButton);
        QCOMPARE(prompts->boxes.size(), 1);
        w.AddFileToList(QStringLiteral("/d/b.ics"));
        QCOMPARE(rows(*w.grdFiles1), QStringList({"/d/a.ics", QString(), "/d/b.ics"}));
    }

    void nonAsciiAndOddPathsAreStoredAsGiven()
    {
        frmStep1& w = open();
        const QStringList paths = {QStringLiteral("/home/zoë/日历/ä b.ics"), QStringLiteral("C:\\Data\\a.vcs"),
                                   QStringLiteral("/d/with & ampersand.ics"), QStringLiteral("/d/no-extension")};
        for (const QString& p : paths)
            w.AddFileToList(p);
        QCOMPARE(rows(*w.grdFiles1), paths);
    }
};

QTEST_MAIN(TestSourceFileList)
#include "tst_sourcefilelist.moc"
