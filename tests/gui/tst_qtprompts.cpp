// The product's message boxes, shown for real: buttons, default, icon, caption, and which keys may
// dismiss them.
#include "app/QtUserPrompts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

class TestQtPrompts : public QObject {
    Q_OBJECT

    // Runs `inspect` on the message box once it is up, then answers it with `answer`.
    static void whenBoxShows(std::function<void(QMessageBox&)> inspect, QMessageBox::StandardButton answer)
    {
        QTimer::singleShot(0, [inspect, answer] {
            QMessageBox* box = nullptr;
            QTRY_VERIFY((box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) != nullptr);
            inspect(*box);
            box->button(answer)->click();
        });
    }

private slots:
    void yesNoBoxOffersOnlyYesAndNoWithYesDefault()
    {
        QtUserPrompts prompts;
        bool inspected = false;
        whenBoxShows(
            [&](QMessageBox& box) {
                QCOMPARE(box.windowTitle(), QStringLiteral("Varnel vCalendar\\iCalendar Importer"));
                QCOMPARE(box.text(), QStringLiteral("Do you want to clear all the files in the list\n Proceed?"));
                QCOMPARE(box.icon(), QMessageBox::Question);
                QCOMPARE(box.buttons().size(), 2);
                QVERIFY(box.button(QMessageBox::Yes));
                QVERIFY(box.button(QMessageBox::No));
                QCOMPARE(box.defaultButton(), box.button(QMessageBox::Yes));
                QVERIFY(!(box.windowFlags() & Qt::WindowCloseButtonHint));
                inspected = true;
            },
            QMessageBox::No);
        const int answer = prompts.MsgBox(QStringLiteral("Do you want to clear all the files in the list\r\n Proceed?"),
                                          36, QStringLiteral("Varnel vCalendar\\iCalendar Importer"));
        QVERIFY(inspected);
        QCOMPARE(answer, 7);
    }

    void escapeAndCloseDoNotDismissAYesNoBox()
    {
        QtUserPrompts prompts;
        bool stillUp = false;
        whenBoxShows(
            [&](QMessageBox& box) {
                QTest::keyClick(&box, Qt::Key_Escape);
                QApplication::processEvents();
                box.close();
                QApplication::processEvents();
                stillUp = box.isVisible() && QApplication::activeModalWidget() == &box;
            },
            QMessageBox::Yes);
        QCOMPARE(prompts.MsgBox(QStringLiteral("Are you sure you want to exit now?"), 36, QString()), 6);
        QVERIFY(stillUp);
    }

    void okBoxShowsItsIconAndEscapeAnswersOk()
    {
        QtUserPrompts prompts;
        QMessageBox::Icon shown = QMessageBox::NoIcon;
        QString title;
        QTimer::singleShot(0, [&] {
            QMessageBox* box = nullptr;
            QTRY_VERIFY((box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) != nullptr);
            shown = box->icon();
            title = box->windowTitle();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        QCOMPARE(prompts.MsgBox(QStringLiteral("Please select only 1000 files at a time"), 48, QString()), 1);
        QCOMPARE(shown, QMessageBox::Warning);
        // A box that names no title of its own carries the application title.
        QCOMPARE(title, QStringLiteral("Varnel vCalendar\\iCalendar Importer"));
    }

    void nameFilterListsBothPatterns()
    {
        QCOMPARE(QtUserPrompts::QtNameFilter(QStringLiteral("vCalendar & iCalendar Files (*.vcs,*.ics)|*.vcs;*.ics")),
                 QStringLiteral("vCalendar & iCalendar Files (*.vcs,*.ics) (*.vcs *.ics)"));
    }
};

QTEST_MAIN(TestQtPrompts)
#include "tst_qtprompts.moc"
