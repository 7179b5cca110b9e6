// The import button end to end, offscreen: the destination asked for, the store written and read
// back by libpff, libpst and pstcheck, the progress shown on the frame, the label and the bar, the
// messages at the end, and the runs that must not start or cannot write a store.
#include "WindowFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString kCompletionTitle = QStringLiteral("Varnel vCalendar/iCalendar Importer");
const QDateTime kWhen(QDate(2026, 12, 7), QTime(9, 5, 7));

QString Event(const QString& uid, const QString& summary)
{
    return QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VEVENT\r\nUID:%1\r\n"
                          "DTSTAMP:20261201T000000Z\r\nDTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z\r\n"
                          "SUMMARY:%2\r\nLOCATION:Room 1\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")
        .arg(uid, summary);
}

void Write(const QString& path, const QString& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
}

QString Run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(120000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAll());
}

// The folder path below "/" of a local folder, as the store names it.
QString StoreFolderOf(const QString& dir) { return dir.mid(1).replace(QLatin1Char('/'), QLatin1Char('\\')); }

}  // namespace

class TestImportWindow : public QObject {
    Q_OBJECT

    WindowFixture fixture;
    std::unique_ptr<ScriptedPrompts>& prompts = fixture.prompts;

    frmStep1& open()
    {
        frmStep1& w = fixture.open();
        w.setClock([] { return kWhen; });
        return w;
    }

private slots:
    void cleanup() { fixture.close(); }

    void cancelInThePickerDoesNothing()
    {
        frmStep1& w = open();
        w.AddFileToList(QStringLiteral("/nowhere/a.ics"));
        w.CmdExtractDBX->setEnabled(true);
        w.CmdExtractDBX->click();
        QCOMPARE(prompts->folderTitles, QStringList{QStringLiteral("Choose Folder to Save...")});
        QVERIFY(prompts->boxes.isEmpty());
        QVERIFY(w.CmdExtractDBX->isEnabled());
        QVERIFY(w.lastStorePath.isEmpty());
    }

    void anEmptyListWritesNoStore()
    {
        frmStep1& w = open();
        w.CmdExtractDBX->setEnabled(true);
        w.CmdExtractDBX_Click();
        QVERIFY(prompts->folderTitles.isEmpty());
        QCOMPARE(prompts->boxes.size(), 1);
        QVERIFY(prompts->boxes[0].prompt.contains(QStringLiteral("no calendar files")));
        QCOMPARE(prompts->boxes[0].style, 64);
    }

    void importsATreeShowingProgress()
    {
        QTemporaryDir src;
        QTemporaryDir out;
        for (int i = 0; i < 12; ++i)
            Write(src.filePath(QStringLiteral("%1/e%2.ics").arg(i < 5 ? "home" : "work/2026").arg(i, 2, 10, QLatin1Char('0'))),
                  Event(QStringLiteral("uid-%1").arg(i), QStringLiteral("Event %1").arg(i)));
        Write(src.filePath(QStringLiteral("work/broken.ics")), QStringLiteral("BEGIN:VCALENDAR\r\nnothing else"));

        frmStep1& w = open();
        prompts->folderResults = {src.path(), out.path()};
        w.CmdAddFolder_Click();
        QCOMPARE(w.grdFiles1->Rows(), 13);
        QVERIFY(w.CmdExtractDBX->isEnabled());

        // What the frame, the label and the bar show after each file.
        QStringList shown;
        int presses = 0;
        connect(w.ProgressBar1, &QProgressBar::valueChanged, this, [&](int value) {
            shown << QStringLiteral("%1|%2|%3").arg(w.FrameConversion->title()).arg(value).arg(w.LblCurrentDBX->text());
            // A second press while the run goes is refused.
            if (presses++ == 0)
                w.CmdExtractDBX_Click();
        });
        prompts->boxes.clear();
        w.ProgressBar1->setValue(0);
        shown.clear();
        presses = 0;
        w.CmdExtractDBX->click();

        QCOMPARE(prompts->folderTitles.size(), 2);
        QCOMPARE(prompts->folderTitles.last(), QStringLiteral("Choose Folder to Save..."));
        const QString store = out.filePath(QStringLiteral("VarnelCalendars7.12.26 9.5.07.pst"));
        QCOMPARE(w.lastStorePath, store);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList{QFileInfo(store).fileName()});
        QCOMPARE(w.storeDisplayName, QStringLiteral("Varnel Calendars : Created - 7.12.26 9.5.07"));

        // The rows are listed breadth-first: home's five, then work's broken.ics, then 2026's.
        const QString base = StoreFolderOf(src.path());
        QCOMPARE(shown.size(), 13);
        QVERIFY2(shown[2].startsWith(QStringLiteral("Details : Importing - (3 of 13) file(s)|23|")), qPrintable(shown[2]));
        QCOMPARE(shown[0], QStringLiteral("Details : Importing - (1 of 13) file(s)|8|Importing Calendars... from (%1\\home)").arg(base));
        QCOMPARE(shown.last(),
                 QStringLiteral("Details : Importing - (13 of 13) file(s)|100|Importing Calendars... from (%1\\work\\2026)").arg(base));
        QVERIFY(!w.CmdExtractDBX->isEnabled());
        QCOMPARE(w.ProgressBar2->maximum(), 100);
        QCOMPARE(w.grdFiles1->Row(), 12);

        // The completion message names the store, the counts and the file that failed.
        QCOMPARE(prompts->boxes.size(), 1);
        const ScriptedPrompts::Box done = prompts->boxes[0];
        QCOMPARE(done.title, kCompletionTitle);
        QCOMPARE(done.style, 64);
        QVERIFY2(done.prompt.contains(QStringLiteral("12 file(s) imported, 12 appointment(s)")), qPrintable(done.prompt));
        QVERIFY2(done.prompt.contains(QStringLiteral("1 file(s) could not be imported")), qPrintable(done.prompt));
        QVERIFY2(done.details.contains(src.filePath(QStringLiteral("work/broken.ics")) + QStringLiteral(": ")),
                 qPrintable(done.details));

        // The readers see the mirrored folders with their appointments.
        int code = 0;
        const QString check = Run(QStringLiteral(PSTCHECK), {store}, &code);
        QVERIFY2(code == 0, qPrintable(check));
        const QString tree = Run(QStringLiteral("/usr/bin/python3"), {QStringLiteral(STORE_TREE), store}, &code);
        QCOMPARE(code, 0);
        QVERIFY2(tree.contains(base + QStringLiteral("\\home\tIPF.Appointment\t5\tEvent 0|Event 1|Event 2|Event 3|Event 4\n")),
                 qPrintable(tree));
        QVERIFY2(tree.contains(base + QStringLiteral("\\work\tIPF.Appointment\t0\t\n")), qPrintable(tree));
        QVERIFY2(tree.contains(base + QStringLiteral("\\work\\2026\tIPF.Appointment\t7\t")), qPrintable(tree));
        QTemporaryDir readpst;
        Run(QStringLiteral("readpst"), {QStringLiteral("-j"), QStringLiteral("0"), QStringLiteral("-r"), QStringLiteral("-o"),
                                        readpst.path(), store},
            &code);
        QCOMPARE(code, 0);
        int events = 0;
        for (QDirIterator it(readpst.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            QFile f(it.next());
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(f.readAll());
            events += text.count(QStringLiteral("BEGIN:VEVENT"));
            if (text.contains(QStringLiteral("SUMMARY:Event 7")))
                QVERIFY2(text.contains(QStringLiteral("LOCATION:Room 1")), qPrintable(text));
        }
        QCOMPARE(events, 12);
        const QString info = Run(QStringLiteral("pffinfo"), {store}, &code);
        QVERIFY2(code == 0, qPrintable(info));

        // Adding files enables the button again.
        prompts->openResults.push_back({{src.filePath(QStringLiteral("home/e00.ics"))}, 0, {}});
        w.cmdAdd_Click();
        QVERIFY(w.CmdExtractDBX->isEnabled());
    }

    void aCorpusFolderImports()
    {
        const QString corpus = QStringLiteral(VARNEL_SHARED_DIR "/corpus/calendarserver");
        if (!QFileInfo::exists(corpus))
            QSKIP("the shared corpus is not here");
        QTemporaryDir out;
        frmStep1& w = open();
        prompts->folderResults = {corpus, out.path()};
        w.CmdAddFolder_Click();
        const int files = w.grdFiles1->Rows();
        QVERIFY(files > 5);
        prompts->boxes.clear();
        w.CmdExtractDBX_Click();
        QCOMPARE(prompts->boxes.size(), 1);
        QVERIFY2(prompts->boxes[0].prompt.contains(QStringLiteral("%1 file(s) imported").arg(files)),
                 qPrintable(prompts->boxes[0].prompt + prompts->boxes[0].details));
        int code = 0;
        const QString check = Run(QStringLiteral(PSTCHECK), {w.lastStorePath}, &code);
        QVERIFY2(code == 0, qPrintable(check));
        const QString tree = Run(QStringLiteral("/usr/bin/python3"), {QStringLiteral(STORE_TREE), w.lastStorePath}, &code);
        QVERIFY2(tree.contains(StoreFolderOf(QFileInfo(corpus).canonicalFilePath()) + QStringLiteral("\\recurrance\t")),
                 qPrintable(tree));
    }

    void aStoreThatCannotBeCreatedShowsTheOutlookError()
    {
        QTemporaryDir src;
        Write(src.filePath(QStringLiteral("a.ics")), Event(QStringLiteral("u"), QStringLiteral("x")));
        frmStep1& w = open();
        w.AddFileToList(src.filePath(QStringLiteral("a.ics")));
        prompts->folderResults = {src.filePath(QStringLiteral("no such folder"))};
        w.CmdExtractDBX_Click();
        QCOMPARE(prompts->boxes.size(), 1);
        const ScriptedPrompts::Box box = prompts->boxes[0];
        QCOMPARE(box.title, QStringLiteral("Outlook Error"));
        QCOMPARE(box.style, 64);
        const QStringList lines = box.prompt.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("Outlook Session Creation Error !"));
        QCOMPARE(lines[1], QStringLiteral("Check if Outlook is installed and configured."));
        QVERIFY(lines[2].startsWith(QStringLiteral("For more details visit this link : ")));
        QVERIFY(lines[2].endsWith(QStringLiteral("/kb/287532")));
        QVERIFY2(box.details.contains(QStringLiteral("no such folder")), qPrintable(box.details));
    }

    void aFullDiskStopsTheRunWithAMessage()
    {
        QTemporaryDir src;
        QTemporaryDir out;
        for (int i = 0; i < 600; ++i)
            Write(src.filePath(QStringLiteral("cal/e%1.ics").arg(i, 3, 10, QLatin1Char('0'))),
                  Event(QStringLiteral("uid-%1").arg(i), QStringLiteral("Event %1").arg(i)));
        frmStep1& w = open();
        prompts->folderResults = {src.path(), out.path()};
        w.CmdAddFolder_Click();
        prompts->boxes.clear();
        // Files may grow to 1 MB only while the run goes: later writes fail as on a full disk.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 1'000'000;
        setrlimit(RLIMIT_FSIZE, &small);
        w.CmdExtractDBX_Click();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(prompts->boxes.size(), 1);
        const ScriptedPrompts::Box box = prompts->boxes[0];
        QCOMPARE(box.style, 16);
        QVERIFY2(box.prompt.startsWith(QStringLiteral("The store %1 could not be written").arg(w.lastStorePath)), qPrintable(box.prompt));
        QVERIFY2(box.prompt.contains(QStringLiteral("The import was stopped.")), qPrintable(box.prompt));
        int code = 0;
        const QString check = Run(QStringLiteral(PSTCHECK), {w.lastStorePath}, &code);
        QVERIFY2(code == 0, qPrintable(check));
    }

    void closingDuringARunKeepsWhatWasSaved()
    {
        QTemporaryDir src;
        QTemporaryDir out;
        for (int i = 0; i < 40; ++i)
            Write(src.filePath(QStringLiteral("cal/e%1.ics").arg(i, 2, 10, QLatin1Char('0'))),
                  Event(QStringLiteral("uid-%1").arg(i), QStringLiteral("Event %1").arg(i)));
        QProcess child;
        child.start(QStringLiteral(IMPORT_THEN_CLOSE), {src.path(), out.path(), QStringLiteral("17")});
        QVERIFY(child.waitForFinished(60000));
        const QString said = QString::fromUtf8(child.readAllStandardOutput());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(said.contains(QStringLiteral("saved 17\n")) && !said.contains(QStringLiteral("saved 18")), qPrintable(said));
        QVERIFY2(!said.contains(QStringLiteral("run finished")), qPrintable(said));

        const QStringList stores = QDir(out.path()).entryList({QStringLiteral("*.pst")}, QDir::Files);
        QCOMPARE(stores.size(), 1);
        const QString store = out.filePath(stores[0]);
        int code = 0;
        const QString check = Run(QStringLiteral(PSTCHECK), {store}, &code);
        QVERIFY2(code == 0, qPrintable(check));
        // Files are committed together and told done once on disk; closing commits what was
        // saved: the store holds at least every file the window had counted, each one whole.
        const QString tree = Run(QStringLiteral("/usr/bin/python3"), {QStringLiteral(STORE_TREE), store}, &code);
        const QString line = StoreFolderOf(src.path()) + QStringLiteral("\\cal\tIPF.Appointment\t");
        const int at = tree.indexOf(line);
        QVERIFY2(at >= 0, qPrintable(tree));
        const int held = tree.mid(at + line.size()).section(QLatin1Char('\t'), 0, 0).toInt();
        QVERIFY2(held >= 17 && held <= 40, qPrintable(tree));
    }
};

QTEST_MAIN(TestImportWindow)
#include "tst_importwindow.moc"
