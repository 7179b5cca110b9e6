// The product's message boxes, shown for real: buttons, default, icon, caption, and which keys may
// dismiss them.
#include "app/QtUserPrompts.h"

#include <QFile>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
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

    // The real file dialogs, answered by typing into them as a user would.

    void openDialogReturnsTypedNamesAndRefusesTooLargeAPick()
    {
        QTemporaryDir dir;
        for (const char* f : {"a.ics", "b.vcs", "c.ics"}) {
            QFile file(dir.path() + QLatin1Char('/') + QLatin1String(f));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QtUserPrompts prompts;
        auto typeAndAccept = [&](const QString& typed) {
            QTimer::singleShot(0, [&dir, typed] {
                QFileDialog* dialog = nullptr;
                QTRY_VERIFY((dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) != nullptr);
                QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
                QCOMPARE(dialog->nameFilters().size(), 1);
                dialog->setDirectory(dir.path());
                auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                QVERIFY(name);
                // Typed as a user types: into the focused name box.
                name->setFocus();
                QTRY_VERIFY(name->hasFocus());
                name->setText(typed);
                static_cast<QDialog*>(dialog)->accept();
            });
        };

        typeAndAccept(QStringLiteral("\"c.ics\" \"a.ics\" \"missing.ics\""));
        OpenDialogResult result = prompts.ShowOpen(QStringLiteral("Calendars|*.vcs;*.ics"), 1000);
        QCOMPARE(result.error, 0);
        QCOMPARE(result.files, QStringList({dir.filePath("c.ics"), dir.filePath("a.ics"), dir.filePath("missing.ics")}));

        typeAndAccept(QStringLiteral("\"a.ics\" \"b.vcs\" \"c.ics\""));
        result = prompts.ShowOpen(QStringLiteral("Calendars|*.vcs;*.ics"), 2);
        QCOMPARE(result.error, kDialogBufferTooSmall);
        QVERIFY(result.files.isEmpty());

        QTimer::singleShot(0, [] {
            QWidget* dialog = nullptr;
            QTRY_VERIFY((dialog = QApplication::activeModalWidget()) != nullptr);
            static_cast<QDialog*>(dialog)->reject();
        });
        result = prompts.ShowOpen(QStringLiteral("Calendars|*.vcs;*.ics"), 1000);
        QCOMPARE(result.error, 0);
        QVERIFY(result.files.isEmpty());
    }

    void folderPickerReturnsThePathOrNothing()
    {
        QTemporaryDir dir;
        QtUserPrompts prompts;
        auto answer = [](const QString& folder, bool accept) {
            QTimer::singleShot(0, [folder, accept] {
                QFileDialog* dialog = nullptr;
                QTRY_VERIFY((dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) != nullptr);
                QCOMPARE(dialog->windowTitle(), QStringLiteral("Choose Source Folder..."));
                dialog->setDirectory(folder);
                if (accept)
                    static_cast<QDialog*>(dialog)->accept();
                else
                    static_cast<QDialog*>(dialog)->reject();
            });
        };
        answer(dir.path(), true);
        QCOMPARE(prompts.BrowseForFolder(QStringLiteral("Choose Source Folder...")), dir.path());
        answer(QStringLiteral("/"), true);
        QCOMPARE(prompts.BrowseForFolder(QStringLiteral("Choose Source Folder...")), QStringLiteral("/"));
        answer(dir.path(), false);
        QCOMPARE(prompts.BrowseForFolder(QStringLiteral("Choose Source Folder...")), QString());
    }

    void nameFilterListsBothPatterns()
    {
        QCOMPARE(QtUserPrompts::QtNameFilter(QStringLiteral("vCalendar & iCalendar Files (*.vcs,*.ics)|*.vcs;*.ics")),
                 QStringLiteral("vCalendar & iCalendar Files (*.vcs,*.ics) (*.vcs *.ics)"));
    }
};

QTEST_MAIN(TestQtPrompts)
#include "tst_qtprompts.moc"
