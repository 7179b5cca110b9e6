// The import button: asks where the new store goes, runs the import over the listed files and
// shows its progress on the "Details" frame, then reports how it went.
#include "frmStep1.h"

#include "filelist/FlexGrid.h"
#include "filelist/QtText.h"
#include "filelist/UserPrompts.h"
#include "import/ImportRun.h"
#include "import/WindowTexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

const QString frmStep1::kCompletionTitle = QString::fromUtf16(texts::kProductTitle);

namespace {

const QString kOutlookErrorTitle = QString::fromUtf16(texts::kOutlookErrorTitle);
const QString kOutlookError = QString::fromUtf16(texts::kOutlookError);

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

QString CompletionText(const ImportResult& result) { return ToQString(texts::CompletionText(result)); }

QString CompletionDetails(const ImportResult& result) { return ToQString(texts::CompletionDetails(result)); }

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
        m_prompts.MsgBox(QString::fromUtf16(texts::kNothingToImport),
                         MsgBoxStyle::OkOnly + MsgBoxStyle::Information, kCompletionTitle);
        return;
    }

    m_importRunning = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } running{m_importRunning};

    saveFolder = m_prompts.BrowseForFolder(QString::fromUtf16(texts::kSaveFolderTitle));
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
                ToQString(texts::ImportStopped(result)),
                MsgBoxStyle::OkOnly + MsgBoxStyle::Critical, kCompletionTitle, CompletionDetails(result));
        }
        break;
    case ImportResult::Status::Done:
        m_prompts.MsgBoxWithDetails(CompletionText(result), MsgBoxStyle::OkOnly + MsgBoxStyle::Information,
                                    kCompletionTitle, CompletionDetails(result));
        break;
    }
}
