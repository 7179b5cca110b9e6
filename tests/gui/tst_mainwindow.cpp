// The main window as the user meets it: layout, captions, fonts, colours, focus order, access
// keys, and the ways of leaving the program.
#include "ScriptedPrompts.h"
#include "app/frmStep1.h"
#include "filelist/FlexGrid.h"

#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedPrompts> prompts;
    int endCalls = 0;
    std::unique_ptr<frmStep1> window;

    frmStep1& open()
    {
        prompts = std::make_unique<ScriptedPrompts>();
        endCalls = 0;
        window = std::make_unique<frmStep1>(*prompts, [this] { ++endCalls; });
        window->ShowCentred();
        QApplication::setActiveWindow(window.get());
        if (!QTest::qWaitForWindowActive(window.get()))
            qWarning("window did not become active");
        return *window;
    }

    static QColor pixel(const QImage& image, QPoint at) { return image.pixelColor(at); }

    QStringList tabCycle(int steps)
    {
        QStringList visited;
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        return visited;
    }

private slots:
    void cleanup()
    {
        window.reset();
        prompts.reset();
    }

    void windowIsFixedCentredAndTitled()
    {
        frmStep1& w = open();
        QCOMPARE(w.windowTitle(), QStringLiteral("Varnel vCalendar/iCalendar Importer (.vcs/.ics)"));
        QCOMPARE(w.size(), QSize(543, 450));
        QCOMPARE(w.minimumSize(), QSize(543, 450));
        QCOMPARE(w.maximumSize(), QSize(543, 450));
        const Qt::WindowFlags flags = w.windowFlags();
        QVERIFY(flags & Qt::WindowMinimizeButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        const QPoint screenCentre = w.screen()->availableGeometry().center();
        QVERIFY2((w.geometry().center() - screenCentre).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("window centre %1,%2")
                                .arg(w.geometry().center().x())
                                .arg(w.geometry().center().y())));
        // The application icon, loaded from the program's resources in its small and large sizes.
        QVERIFY(!w.windowIcon().isNull());
        for (int size : {16, 256})
            QCOMPARE(w.windowIcon().pixmap(size).size(), QSize(size, size));
    }

    void controlsHaveTheirPlaceCaptionAndFont_data()
    {
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<double>("points");

        // Pixels at 96 dpi, relative to the control's container. A point size of 0 means the
        // control shows no text of its own.
        QTest::newRow("Shape2") << "frmStep1" << QString() << QRect(-8, 0, 561, 57) << 0.0;
        QTest::newRow("lblTitle") << "frmStep1" << "Varnel vCalendar/iCalendar Importer" << QRect(16, 8, 417, 25) << 14.25;
        QTest::newRow("lblCopyright") << "frmStep1" << QString() << QRect(16, 32, 409, 17) << 8.25;
        QTest::newRow("cmdAdd") << "frmStep1" << "Add vCalendar/iCalendar File(s)..." << QRect(16, 64, 185, 25) << 8.25;
        QTest::newRow("CmdAddFolder") << "frmStep1" << "Add Folder having File(s)..." << QRect(216, 64, 145, 25) << 8.25;
        QTest::newRow("cmdClear1") << "frmStep1" << "Clear File(s)..." << QRect(440, 64, 89, 25) << 8.25;
        QTest::newRow("lblCount1") << "frmStep1" << "0 files" << QRect(18, 104, 513, 17) << 8.25;
        QTest::newRow("grdFiles1") << "frmStep1" << QString() << QRect(16, 120, 513, 105) << 8.25;
        QTest::newRow("FrameConversion") << "frmStep1" << "Details" << QRect(16, 232, 513, 121) << 8.25;
        QTest::newRow("LblCurrentDBX") << "FrameConversion" << "Importing Calendars..." << QRect(8, 16, 497, 17) << 8.25;
        QTest::newRow("LblProgessCurrent") << "FrameConversion" << "Calendars 0 (of 0)" << QRect(120, 40, 385, 17) << 8.25;
        QTest::newRow("Label2") << "FrameConversion" << "Current File Progress : " << QRect(8, 64, 113, 17) << 8.25;
        QTest::newRow("ProgressBar2") << "FrameConversion" << QString() << QRect(120, 64, 385, 17) << 0.0;
        QTest::newRow("Label1") << "FrameConversion" << "Overall Progress        : " << QRect(8, 88, 113, 17) << 8.25;
        QTest::newRow("ProgressBar1") << "FrameConversion" << QString() << QRect(120, 88, 385, 17) << 0.0;
        QTest::newRow("CmdExtractDBX") << "frmStep1" << "Import &Calendars" << QRect(192, 368, 161, 29) << 8.25;
        QTest::newRow("Shape1") << "frmStep1" << QString() << QRect(0, 408, 561, 57) << 0.0;
        QTest::newRow("Picture3") << "frmStep1" << QString() << QRect(16, 416, 513, 33) << 0.0;
        QTest::newRow("cmdEnd") << "Picture3" << "E&xit" << QRect(424, 0, 89, 25) << 8.25;
    }

    void controlsHaveTheirPlaceCaptionAndFont()
    {
        QFETCH(QString, parentName);
        QFETCH(QString, caption);
        QFETCH(QRect, rect);
        QFETCH(double, points);

        frmStep1& w = open();
        auto* control = w.findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(control);
        QCOMPARE(control->parentWidget()->objectName(), parentName);
        QCOMPARE(control->geometry(), rect);
        if (!caption.isNull()) {
            QString shown;
            if (auto* label = qobject_cast<QLabel*>(control))
                shown = label->text();
            else if (auto* button = qobject_cast<QPushButton*>(control))
                shown = button->text();
            else if (auto* frame = qobject_cast<QGroupBox*>(control))
                shown = frame->title();
            QCOMPARE(shown, caption);
        }
        if (points > 0) {
            QCOMPARE(control->font().pointSizeF(), points);
            QCOMPARE(QFontInfo(control->font()).family(), QStringLiteral("Tahoma"));
            QCOMPARE(QFontInfo(control->font()).bold(), points > 10);
            QVERIFY(!control->font().italic());
            QVERIFY(!control->font().underline());
        }
    }

    void copyrightIsOneLineOnWhite()
    {
        frmStep1& w = open();
        QVERIFY(!w.lblCopyright->text().isEmpty());
        QVERIFY(!w.lblCopyright->text().contains(QLatin1Char('\n')));
        QVERIFY(QFontMetrics(w.lblCopyright->font()).horizontalAdvance(w.lblCopyright->text())
                <= w.lblCopyright->width());
    }

    void startsEmptyWithImportDisabled()
    {
        frmStep1& w = open();
        QCOMPARE(w.grdFiles1->Rows(), 1);
        QCOMPARE(w.grdFiles1->Cols(), 1);
        QCOMPARE(w.grdFiles1->Text(), QString());
        QCOMPARE(w.grdFiles1->ColWidth(0), 50000);
        QVERIFY(w.grdFiles1->horizontalHeader()->isHidden());
        QVERIFY(w.grdFiles1->verticalHeader()->isHidden());
        QCOMPARE(w.lblCount1->text(), QStringLiteral("0 files"));
        for (QProgressBar* bar : {w.ProgressBar1, w.ProgressBar2}) {
            QCOMPARE(bar->minimum(), 0);
            QCOMPARE(bar->maximum(), 100);
            QCOMPARE(bar->value(), 0);
            QCOMPARE(bar->orientation(), Qt::Horizontal);
        }
        QVERIFY(!w.CmdExtractDBX->isEnabled());
        for (QPushButton* b : {w.cmdAdd, w.CmdAddFolder, w.cmdClear1, w.cmdEnd})
            QVERIFY(b->isEnabled());
        QCOMPARE(QApplication::focusWidget(), w.cmdAdd);
        QCOMPARE(prompts->boxes.size(), 0);
    }

    void longPathScrollsIntoView()
    {
        frmStep1& w = open();
        w.AddFileToList(QStringLiteral("/home/user/") + QString(300, QLatin1Char('x')) + QStringLiteral(".ics"));
        QTest::qWait(10);
        QScrollBar* bar = w.grdFiles1->horizontalScrollBar();
        QVERIFY(bar->maximum() > 0);
        // The column is 10000 twips once the list holds a path: 666 pixels, all reachable.
        QCOMPARE(bar->maximum() + w.grdFiles1->viewport()->width(), 10000 / 15);
    }

    void bandsCellsAndSelectionHaveTheirColours()
    {
        frmStep1& w = open();
        w.AddFileToList(QStringLiteral("/data/a.ics"));
        QTest::qWait(10);
        FlexGrid* grid = w.grdFiles1;
        const QRect cell = grid->visualRect(grid->model()->index(0, 0));
        const int x = 40;
        auto inWindow = [&](QPoint viewportPoint) { return grid->viewport()->mapTo(&w, viewportPoint); };

        QImage image = w.grab().toImage();
        // Header band: white fill with a mid-grey outline along its bottom edge.
        QCOMPARE(pixel(image, {535, 50}), QColor(255, 255, 255));
        QCOMPARE(pixel(image, {300, 56}), QColor(128, 128, 128));
        // Footer band: light-grey outline on top, white fill; the panel on it is white too.
        QCOMPARE(pixel(image, {5, 408}), QColor(192, 192, 192));
        QCOMPARE(pixel(image, {5, 430}), QColor(255, 255, 255));
        QCOMPARE(pixel(image, {100, 440}), QColor(255, 255, 255));
        // The cell is pale yellow, the area below the last row white, the line under a row
        // light grey.
        QCOMPARE(pixel(image, inWindow({x, cell.center().y()})), QColor(255, 255, 191));
        QCOMPARE(pixel(image, inWindow({x, cell.bottom() + 10})), QColor(255, 255, 255));
        QCOMPARE(pixel(image, inWindow({x, cell.bottom() + 1})), QColor(192, 192, 192));

        // Labels lie above the header band: the title's text is visible on it.
        const QRect title = w.lblTitle->geometry();
        int dark = 0;
        for (int y = title.top(); y <= title.bottom(); ++y)
            for (int x = title.left(); x <= title.right(); ++x)
                dark += image.pixelColor(x, y).lightness() < 64;
        QVERIFY2(dark > 100, qPrintable(QString::number(dark)));

        // A selected cell is navy.
        grid->selectionModel()->select(grid->model()->index(0, 0), QItemSelectionModel::Select);
        QTest::qWait(10);
        image = w.grab().toImage();
        QCOMPARE(pixel(image, inWindow({x, cell.center().y()})), QColor(0, 0, 128));
    }

    void aNewColourSchemeReachesOnlyTheSystemColours()
    {
        frmStep1& w = open();
        const QPalette original = QApplication::palette();
        QPalette scheme = original;
        const QColor text(10, 120, 30), face(200, 180, 240), highlightText(250, 240, 0);
        scheme.setColor(QPalette::WindowText, text);
        scheme.setColor(QPalette::Text, text);
        scheme.setColor(QPalette::Window, face);
        scheme.setColor(QPalette::HighlightedText, highlightText);
        scheme.setColor(QPalette::Highlight, Qt::red);
        scheme.setColor(QPalette::Base, Qt::green);
        QApplication::setPalette(scheme);
        QApplication::processEvents();

        // Follow the scheme: default label colours, cell text, selection text, the panel's text.
        QCOMPARE(w.lblCount1->palette().color(QPalette::WindowText), text);
        QCOMPARE(w.lblCount1->palette().color(QPalette::Window), face);
        QCOMPARE(w.grdFiles1->palette().color(QPalette::Text), text);
        QCOMPARE(w.grdFiles1->palette().color(QPalette::HighlightedText), highlightText);
        QCOMPARE(w.Picture3->palette().color(QPalette::WindowText), text);
        // Stay as they are: the white title labels and panel, black texts, navy selection, and
        // the white area of the grid.
        QCOMPARE(w.lblTitle->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(w.lblTitle->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(w.lblCopyright->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(w.LblProgessCurrent->palette().color(QPalette::WindowText), QColor(Qt::black));
        QCOMPARE(w.Picture3->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(w.grdFiles1->palette().color(QPalette::Highlight), QColor(0, 0, 128));
        QCOMPARE(w.grdFiles1->palette().color(QPalette::Base), QColor(Qt::white));

        QApplication::setPalette(original);
    }

    void tabSkipsTheImportButtonWhileDisabled()
    {
        frmStep1& w = open();
        QCOMPARE(QApplication::focusWidget(), w.cmdAdd);
        QCOMPARE(tabCycle(5), QStringList({"cmdClear1", "CmdAddFolder", "grdFiles1", "cmdEnd", "cmdAdd"}));
        w.CmdExtractDBX->setEnabled(true);
        QCOMPARE(tabCycle(6),
                 QStringList({"cmdClear1", "CmdAddFolder", "grdFiles1", "CmdExtractDBX", "cmdEnd", "cmdAdd"}));
    }

    void tabLeavesTheGridWithEntries()
    {
        frmStep1& w = open();
        for (int i = 0; i < 3; ++i)
            w.AddFileToList(QStringLiteral("/data/%1.ics").arg(i));
        w.grdFiles1->setFocus();
        QTest::keyClick(w.grdFiles1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.cmdEnd);
    }

    void altCPressesImportOnlyWhileEnabled()
    {
        frmStep1& w = open();
        QSignalSpy clicks(w.CmdExtractDBX, &QPushButton::clicked);
        // An access key presses its button with a short animation: the click comes a moment later.
        QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
        QTest::qWait(300);
        QCOMPARE(clicks.size(), 0);
        w.CmdExtractDBX->setEnabled(true);
        QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
        QTRY_COMPARE(clicks.size(), 1);
        // Alt+C belongs to the import button alone, not to "Clear File(s)...": the one box shown
        // is the import's own, saying the list is empty.
        QTRY_COMPARE(prompts->boxes.size(), 1);
        QVERIFY2(prompts->boxes[0].prompt.contains(QStringLiteral("no calendar files")), qPrintable(prompts->boxes[0].prompt));
    }

    void exitAnsweredNoChangesNothing()
    {
        frmStep1& w = open();
        w.AddFileToList(QStringLiteral("/data/a.ics"));
        w.AddFileToList(QStringLiteral("/data/b.vcs"));
        w.CmdExtractDBX->setEnabled(true);
        prompts->answers = {MsgBoxResult::No};

        QTest::keyClick(&w, Qt::Key_X, Qt::AltModifier);

        QTRY_COMPARE(prompts->boxes.size(), 1);
        QCOMPARE(prompts->boxes[0].prompt, QStringLiteral("Are you sure you want to exit now?"));
        QCOMPARE(prompts->boxes[0].style, 36);
        QCOMPARE(prompts->boxes[0].title, QStringLiteral("Varnel vCalendar\\iCalendar Importer"));
        QCOMPARE(endCalls, 0);
        QVERIFY(w.isVisible());
        QCOMPARE(w.grdFiles1->Rows(), 2);
        QCOMPARE(w.lblCount1->text(), QStringLiteral("2 files"));
        QVERIFY(w.CmdExtractDBX->isEnabled());
    }

    void exitAnsweredYesEndsTheProgram()
    {
        frmStep1& w = open();
        prompts->answers = {MsgBoxResult::Yes};
        QTest::mouseClick(w.cmdEnd, Qt::LeftButton);
        QCOMPARE(prompts->boxes.size(), 1);
        QCOMPARE(endCalls, 1);
        QVERIFY(!w.isVisible());
    }

    void closingAsksNothingEvenWithFilesListed()
    {
        frmStep1& w = open();
        w.AddFileToList(QStringLiteral("/data/a.ics"));
        QVERIFY(w.close());
        QCOMPARE(endCalls, 1);
        QCOMPARE(prompts->boxes.size(), 0);
    }

    void closingDuringAYieldEndsTheProgramAtOnce()
    {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QStringLiteral(CLOSE_DURING_YIELD), {});
        QVERIFY(child.waitForFinished(60000));
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QVERIFY2(out.contains(QStringLiteral("step 0\n")), qPrintable(out));
        QVERIFY2(!out.contains(QStringLiteral("operation finished")), qPrintable(out.right(200)));
        QCOMPARE(child.exitCode(), 0);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
