#include "AddHandlers.h"
#include "CalendarFiles.h"
#include "QtText.h"

#include "SourceFileList.h"
#include "UserPrompts.h"
#include "pathLogger.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QWidget>

namespace {

// Keeps the busy cursor up for as long as it lives.
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

void AddPickedFiles(SourceFileList& list, UserPrompts& prompts, QWidget& importButton)
{
    const OpenDialogResult picked = prompts.ShowOpen(kCalendarFileFilter, kMaxFilesPerPick);
    if (picked.error == kDialogBufferTooSmall) {
        prompts.MsgBox(QStringLiteral("Please select only ") + QString::number(kMaxFilesPerPick)
                           + QStringLiteral(" files at a time"),
                       MsgBoxStyle::Exclamation, kApplicationTitle);
        return;
    }
    if (picked.error != 0) {
        prompts.MsgBox(QString::number(picked.error) + QLatin1Char(':') + picked.description,
                       MsgBoxStyle::Exclamation, kApplicationTitle);
        return;
    }
    if (picked.files.isEmpty())
        return;
    importButton.setEnabled(true);
    for (const QString& file : picked.files)
        list.AddFileToList(file);
}

void AddFolderFiles(SourceFileList& list, UserPrompts& prompts, QWidget& importButton,
                    const FolderListingFactory& listing)
{
    QString picked = prompts.BrowseForFolder(kSourceFolderTitle);
    if (picked.isEmpty())
        return;
    Text folder = ToText(picked);
    if (!folder.ends_with(kPathSeparator))
        folder += kPathSeparator;

    int added = 0;
    {
        BusyCursor busy;
        std::shared_ptr<pathLogger::TextList> gathered;
        try {
            gathered = FilesBelow(folder, listing);
        } catch (const ListingError& e) {
            // Without the whole tree the add would silently miss files: nothing is added, and the
            // user learns which folder stopped the walk and why.
            prompts.MsgBox(QStringLiteral("The folder \"%1\" could not be read: %2\r\nNo files were added.")
                               .arg(ToQString(e.folder()), ToQString(e.reason())),
                           MsgBoxStyle::Exclamation, kApplicationTitle);
            return;
        } catch (const std::exception& e) {
            prompts.MsgBox(QStringLiteral("The folder \"%1\" could not be walked: %2\r\nNo files were added.")
                               .arg(ToQString(folder), QString::fromLocal8Bit(e.what())),
                           MsgBoxStyle::Exclamation, kApplicationTitle);
            return;
        }

        for (int i = 1; i <= gathered->Count(); ++i) {
            QCoreApplication::processEvents();
            const Text& path = gathered->Item(i);
            if (IsCalendarFileName(path)) {
                QCoreApplication::processEvents();
                list.AddFileToList(ToQString(path));
                ++added;
            }
        }
    }
    importButton.setEnabled(added > 0);
    prompts.MsgBox(QString::number(added) + QStringLiteral(" Files Added to List."), MsgBoxStyle::OkOnly,
                   kApplicationTitle);
}
