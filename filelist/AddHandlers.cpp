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
        prompts.MsgBox(ToQString(texts::SelectOnlyFiles(kMaxFilesPerPick)), MsgBoxStyle::Exclamation,
                       kApplicationTitle);
        return;
    }
    if (picked.error != 0) {
        prompts.MsgBox(ToQString(texts::DialogError(picked.error, ToText(picked.description))),
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
            prompts.MsgBox(ToQString(texts::FolderNotRead(e.folder(), e.reason())), MsgBoxStyle::Exclamation,
                           kApplicationTitle);
            return;
        } catch (const std::exception& e) {
            prompts.MsgBox(ToQString(texts::FolderNotWalked(folder, ToText(QString::fromLocal8Bit(e.what())))),
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
    prompts.MsgBox(ToQString(texts::FilesAdded(added)), MsgBoxStyle::OkOnly, kApplicationTitle);
}
