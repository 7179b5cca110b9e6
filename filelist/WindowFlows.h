#pragma once

// What happens behind the main window's buttons, once for both windows: the Qt window (app/) and
// the one with Windows' own controls (win32/). Each window says how it asks, shows and lists
// through a WindowSide; the flows decide what is asked, in which order, and what the answers do.
// No toolkit here.
#include "FolderListing.h"

#include "import/ImportRun.h"
#include "import/Text.h"

class WindowSide {
public:
    virtual ~WindowSide() = default;

    // Modal message boxes (style: MsgBoxStyle; result: MsgBoxResult), the second with further text
    // the user can unfold.
    virtual int MsgBox(const Text& prompt, int style, const Text& title) = 0;
    virtual int MsgBoxWithDetails(const Text& prompt, int style, const Text& title, const Text& details) = 0;

    // The multi-select file-open dialog with one filter ("description|*.a;*.b"): the picked files as
    // full paths in the dialog's order, typed names as typed; none on cancel; or the dialog's error
    // (texts::kDialogBufferTooSmall when a pick holds more than `maxFiles` files).
    struct OpenResult {
        TextList files;
        int error = 0;
        Text description;
    };
    virtual OpenResult ShowOpen(const Text& filter, int maxFiles) = 0;

    // The folder chooser: a full path, or empty text when nothing usable was chosen.
    virtual Text BrowseForFolder(const Text& title) = 0;

    // The list of files: appends one path; empties it; its number of rows; the text of a row, which
    // becomes the current one.
    virtual void AddFileToList(const Text& path) = 0;
    virtual void ClearFileList() = 0;
    virtual int Rows() = 0;
    virtual Text RowText(int row) = 0;

    // Many rows are about to be added, one by one, and then they have been.
    virtual void BeginAdding() {}
    virtual void EndAdding() {}

    virtual void SetImportEnabled(bool enabled) = 0;
    // The busy pointer on or off.
    virtual void SetBusy(bool busy) = 0;
    // Lets the window's messages through once (paint, input, the other buttons).
    virtual void Yield() = 0;

    // The import's progress: the bars set to 0..100 before it starts; the current row; after each
    // file the frame's counter, the label's folder and the overall bar.
    virtual void ResetProgressRanges() = 0;
    virtual void ShowCurrentRow(int row) = 0;
    virtual void ShowFileDone(const Text& frameCaption, const Text& folderCaption, int percent) = 0;

    // True while an import runs: a second one is refused.
    bool importRunning = false;
};

// "Add vCalendar/iCalendar File(s)...": the picked files are appended as given, in the dialog's
// order. Enables the import button unless the pick was cancelled or failed.
void AddPickedFiles(WindowSide& window);

// "Add Folder having File(s)...": every .vcs and .ics file below the picked folder is appended, in
// walk order, and a message says how many. The import button is enabled when at least one file was
// added, disabled otherwise. Lets the window's messages through between files.
void AddFolderFiles(WindowSide& window, const FolderListingFactory& listing);

// "Clear File(s)...": asks before emptying a list that is not empty; an empty list is left alone
// without a question.
void ClearListedFiles(WindowSide& window);

// "Import Calendars": asks where the new store goes, imports every listed file, showing the
// progress, and reports how it went.
struct ImportOutcome {
    bool askedForFolder = false;  // the folder chooser was shown
    Text saveFolder;              // its answer, ending in a separator when not empty
    bool ran = false;             // RunImport ran; `result` is its report
    ImportResult result;
};
ImportOutcome ImportListedFiles(WindowSide& window, ImportOptions options = {});
