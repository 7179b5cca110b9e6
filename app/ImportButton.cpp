// The import button: asks where the new store goes, runs the import over the listed files and
// shows its progress on the "Details" frame, then reports how it went (filelist/WindowFlows.h).
#include "frmStep1.h"

#include "filelist/QtText.h"
#include "filelist/WindowFlows.h"
#include "import/ImportRun.h"
#include "import/WindowTexts.h"

const QString frmStep1::kCompletionTitle = QString::fromUtf16(texts::kProductTitle);

std::shared_ptr<messaging::RDOFolder> frmStep1::OpenMAPIFolder(const QString& path) { return ::OpenMAPIFolder(ToText(path)); }

void frmStep1::CmdExtractDBX_Click()
{
    ImportOptions options;
    if (m_clock) {
        options.clock = [this] {
            const QDateTime when = m_clock();
            const QDate d = when.date();
            const QTime t = when.time();
            return LocalTime{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
        };
    }
    const ImportOutcome outcome = ImportListedFiles(side(), options);
    if (outcome.askedForFolder)
        saveFolder = ToQString(outcome.saveFolder);
    if (outcome.ran) {
        storeDisplayName = ToQString(outcome.result.displayName);
        folderList = outcome.result.folders;
        lastStorePath = ToQString(outcome.result.storePath);
    }
}
