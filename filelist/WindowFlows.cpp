#include "WindowFlows.h"

#include "CalendarFiles.h"
#include "pathLogger.h"

#include "import/WindowTexts.h"

#include <cmath>

namespace {

// Keeps the busy pointer up for as long as it lives.
class Busy {
public:
    explicit Busy(WindowSide& window)
        : m_window(window)
    {
        m_window.SetBusy(true);
    }
    ~Busy() { m_window.SetBusy(false); }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    WindowSide& m_window;
};

// Brackets rows added one by one.
class Adding {
public:
    explicit Adding(WindowSide& window)
        : m_window(window)
    {
        m_window.BeginAdding();
    }
    ~Adding() { m_window.EndAdding(); }
    Adding(const Adding&) = delete;
    Adding& operator=(const Adding&) = delete;

private:
    WindowSide& m_window;
};

// Only white space: a row that names no file.
bool Blank(const Text& text)
{
    for (char16_t c : text) {
        const bool space = c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0x85 || c == 0xA0 || c == 0x1680
                           || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F
                           || c == 0x205F || c == 0x3000;
        if (!space)
            return false;
    }
    return true;
}

// Shows the run on the window: the current row, the counter, the folder, the bar.
class WindowProgress : public ImportObserver {
public:
    explicit WindowProgress(WindowSide& window)
        : m_window(window)
    {
    }

    void Yield() override { m_window.Yield(); }

    void FileStarting(int index, int) override
    {
        if (index < m_window.Rows())
            m_window.ShowCurrentRow(index);
    }

    void FileDone(int index, int total, const Text&, const Text& folder, int, const Text&) override
    {
        m_window.SetImportEnabled(false);
        const float percent = static_cast<float>(index + 1) / static_cast<float>(total) * 100.0f;
        m_window.ShowFileDone(ImportingCaption(index + 1, m_window.Rows()), CurrentFolderCaption(folder),
                              static_cast<int>(std::lround(percent)));
    }

private:
    WindowSide& m_window;
};

}  // namespace

void AddPickedFiles(WindowSide& window)
{
    const WindowSide::OpenResult picked = window.ShowOpen(texts::kCalendarFileFilter, texts::kMaxFilesPerPick);
    if (picked.error == texts::kDialogBufferTooSmall) {
        window.MsgBox(texts::SelectOnlyFiles(texts::kMaxFilesPerPick), MsgBoxStyle::Exclamation,
                      texts::kApplicationTitle);
        return;
    }
    if (picked.error != 0) {
        window.MsgBox(texts::DialogError(picked.error, picked.description), MsgBoxStyle::Exclamation,
                      texts::kApplicationTitle);
        return;
    }
    if (picked.files.empty())
        return;
    window.SetImportEnabled(true);
    Adding adding(window);
    for (const Text& file : picked.files)
        window.AddFileToList(file);
}

void AddFolderFiles(WindowSide& window, const FolderListingFactory& listing)
{
    Text folder = window.BrowseForFolder(texts::kSourceFolderTitle);
    if (folder.empty())
        return;
    if (folder.back() != kPathSeparator)
        folder += kPathSeparator;

    int added = 0;
    {
        Busy busy(window);
        std::shared_ptr<pathLogger::TextList> gathered;
        try {
            gathered = FilesBelow(folder, listing);
        } catch (const ListingError& e) {
            // Without the whole tree the add would silently miss files: nothing is added, and the
            // user learns which folder stopped the walk and why.
            window.MsgBox(texts::FolderNotRead(e.folder(), e.reason()), MsgBoxStyle::Exclamation,
                          texts::kApplicationTitle);
            return;
        } catch (const std::exception& e) {
            window.MsgBox(texts::FolderNotWalked(folder, FromUtf8(e.what())), MsgBoxStyle::Exclamation,
                          texts::kApplicationTitle);
            return;
        }

        Adding adding(window);
        for (int i = 1; i <= gathered->Count(); ++i) {
            window.Yield();
            const Text& path = gathered->Item(i);
            if (IsCalendarFileName(path)) {
                window.Yield();
                window.AddFileToList(path);
                ++added;
            }
        }
    }
    window.SetImportEnabled(added > 0);
    window.MsgBox(texts::FilesAdded(added), MsgBoxStyle::OkOnly, texts::kApplicationTitle);
}

void ClearListedFiles(WindowSide& window)
{
    if (window.RowText(0).empty())
        return;
    if (window.MsgBox(texts::kClearQuestion, MsgBoxStyle::YesNo + MsgBoxStyle::Question, texts::kApplicationTitle)
        == MsgBoxResult::Yes)
        window.ClearFileList();
}

ImportOutcome ImportListedFiles(WindowSide& window, ImportOptions options)
{
    ImportOutcome outcome;
    // The window handles input while a run yields; a second run cannot start inside the first.
    if (window.importRunning)
        return outcome;
    TextList files;
    for (int r = 0; r < window.Rows(); ++r) {
        Text row = window.RowText(r);
        if (!Blank(row))
            files.push_back(std::move(row));
    }
    if (files.empty()) {
        window.MsgBox(texts::kNothingToImport, MsgBoxStyle::OkOnly + MsgBoxStyle::Information, texts::kProductTitle);
        return outcome;
    }

    window.importRunning = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } running{window.importRunning};

    outcome.askedForFolder = true;
    outcome.saveFolder = window.BrowseForFolder(texts::kSaveFolderTitle);
    if (outcome.saveFolder.empty())
        return outcome;
    if (outcome.saveFolder.back() != kPathSeparator)
        outcome.saveFolder += kPathSeparator;
    window.Yield();
    window.ResetProgressRanges();
    window.Yield();

    options.saveFolder = outcome.saveFolder;
    WindowProgress progress(window);
    outcome.result = RunImport(files, options, progress);
    outcome.ran = true;
    const ImportResult& result = outcome.result;

    switch (result.status) {
    case ImportResult::Status::NothingToImport:
        break;
    case ImportResult::Status::StoreFailed:
        if (result.storePath.empty()) {
            // The store could not be set up at all.
            window.MsgBoxWithDetails(texts::kOutlookError, MsgBoxStyle::OkOnly + MsgBoxStyle::Information,
                                     texts::kOutlookErrorTitle, result.error);
        } else {
            // Writing stopped part-way: what was saved before is in the store.
            window.MsgBoxWithDetails(texts::ImportStopped(result), MsgBoxStyle::OkOnly + MsgBoxStyle::Critical,
                                     texts::kProductTitle, texts::CompletionDetails(result));
        }
        break;
    case ImportResult::Status::Done:
        window.MsgBoxWithDetails(texts::CompletionText(result), MsgBoxStyle::OkOnly + MsgBoxStyle::Information,
                                 texts::kProductTitle, texts::CompletionDetails(result));
        break;
    }
    return outcome;
}
