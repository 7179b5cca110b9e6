// The import button: asks where the new store goes, runs the import over the listed files and
// shows its progress on the "Details" frame, then reports how it went.
#include "frmStep1.h"

#include "filelist/FlexGrid.h"
#include "filelist/QtText.h"
#include "filelist/UserPrompts.h"
#include "import/ImportRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

const QString frmStep1::kCompletionTitle = QStringLiteral("Varnel vCalendar/iCalendar Importer");

namespace {

const QString kOutlookErrorTitle = QStringLiteral("Outlook Error");
const QString kOutlookError = QStringLiteral("Outlook Session Creation Error !\r\n"
                                             "Check if Outlook is installed and configured.\r\n"
                                             "For more details visit this link : https://support.microsoft.com/kb/287532");

// Shows the run on the window: the current row, the counter, the folder, the bar.
class WindowProgress : public ImportObserver {
public:
    explicit WindowProgress(frmStep1& window)
        : m_window(window)
    {
    }

    void Yield() override { QCoreApplication::processEvents(); }

    void FileStarting(int index, int) override
    {
        FlexGrid& grid = *m_window.grdFiles1;
        if (index < grid.Rows()) {
            grid.setRow(index);
            grid.setCol(0);
        }
    }

    void FileDone(int index, int total, const Text&, const Text& folder, int, const Text&) override
    {
        m_window.CmdExtractDBX->setEnabled(false);
        m_window.FrameConversion->setTitle(ToQString(ImportingCaption(index + 1, m_window.grdFiles1->Rows())));
        m_window.LblCurrentDBX->setText(ToQString(CurrentFolderCaption(folder)));
        const float percent = static_cast<float>(index + 1) / static_cast<float>(total) * 100.0f;
        m_window.ProgressBar1->setValue(qRound(percent));
    }

private:
    frmStep1& m_window;
};

QString CompletionText(const ImportResult& result)
{
    QString text = QStringLiteral("The calendars have been imported into Outlook.\n\n%1 file(s) imported, %2 appointment(s) written to\n%3")
                       .arg(result.filesImported)
                       .arg(result.appointments)
                       .arg(QDir::toNativeSeparators(ToQString(result.storePath)));
    if (result.itemsSkipped > 0)
        text += QStringLiteral("\n\n%1 task(s) and journal entries were skipped: they are not appointments.").arg(result.itemsSkipped);
    if (!result.failed.empty())
        text += QStringLiteral("\n\n%1 file(s) could not be imported. Show the details to see which and why.")
                    .arg(result.failed.size());
    return text;
}

QString CompletionDetails(const ImportResult& result)
{
    QStringList lines;
    if (!result.failed.empty()) {
        lines << QStringLiteral("Files not imported:");
        for (const FailedFile& f : result.failed)
            lines << ToQString(f.path + u": " + f.reason);
    }
    if (!result.warnings.empty()) {
        if (!lines.isEmpty())
            lines << QString();
        lines << QStringLiteral("Imported with remarks:");
        lines << ToQStringList(result.warnings);
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

std::shared_ptr<messaging::RDOFolder> frmStep1::OpenMAPIFolder(const QString& path) { return ::OpenMAPIFolder(ToText(path)); }

void frmStep1::CmdExtractDBX_Click()
{
    // The window handles input while a run yields; a second run cannot start inside the first.
    if (m_importRunning)
        return;
    TextList files;
    for (int r = 0; r < grdFiles1->Rows(); ++r) {
        grdFiles1->setRow(r);
        grdFiles1->setCol(0);
        if (!grdFiles1->Text().trimmed().isEmpty())
            files.push_back(ToText(grdFiles1->Text()));
    }
    if (files.empty()) {
        m_prompts.MsgBox(QStringLiteral("There are no calendar files in the list to import. Add files or a folder first."),
                         MsgBoxStyle::OkOnly + MsgBoxStyle::Information, kCompletionTitle);
        return;
    }

    m_importRunning = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } running{m_importRunning};

    saveFolder = m_prompts.BrowseForFolder(QStringLiteral("Choose Folder to Save..."));
    if (saveFolder.isEmpty())
        return;
    if (!saveFolder.endsWith(QDir::separator()))
        saveFolder += QDir::separator();
    QCoreApplication::processEvents();
    ProgressBar1->setRange(0, 100);
    ProgressBar2->setRange(0, 100);
    QCoreApplication::processEvents();

    ImportOptions options;
    options.saveFolder = ToText(saveFolder);
    if (m_clock) {
        options.clock = [this] {
            const QDateTime when = m_clock();
            const QDate d = when.date();
            const QTime t = when.time();
            return LocalTime{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
        };
    }
    WindowProgress progress(*this);
    const ImportResult result = RunImport(files, options, progress);
    storeDisplayName = ToQString(result.displayName);
    folderList = result.folders;
    lastStorePath = ToQString(result.storePath);

    switch (result.status) {
    case ImportResult::Status::NothingToImport:
        break;
    case ImportResult::Status::StoreFailed:
        if (result.storePath.empty()) {
            // The store could not be set up at all.
            m_prompts.MsgBoxWithDetails(kOutlookError, MsgBoxStyle::OkOnly + MsgBoxStyle::Information,
                                        kOutlookErrorTitle, ToQString(result.error));
        } else {
            // Writing stopped part-way: what was saved before is in the store.
            m_prompts.MsgBoxWithDetails(
                ToQString(result.error) + QStringLiteral("\n\nThe import was stopped. The store holds the %1 file(s) imported before.")
                                   .arg(result.filesImported),
                MsgBoxStyle::OkOnly + MsgBoxStyle::Critical, kCompletionTitle, CompletionDetails(result));
        }
        break;
    case ImportResult::Status::Done:
        m_prompts.MsgBoxWithDetails(CompletionText(result), MsgBoxStyle::OkOnly + MsgBoxStyle::Information,
                                    kCompletionTitle, CompletionDetails(result));
        break;
    }
}
