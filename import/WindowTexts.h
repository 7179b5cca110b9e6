#pragma once

// Every text the program's windows show, in one place for the Qt window (app/) and the native
// Windows window (win32/), so that the two cannot drift apart. No toolkit here: the texts are
// UTF-16, as the core's Text, and each window turns them into its own strings.
#include "ImportRun.h"
#include "Text.h"
#include "WindowCaptions.h"

// Message-box styles: a button set plus an icon, added together as the classic Windows values
// (MB_YESNO, MB_ICONQUESTION...), which the Windows window hands to the system as they are.
namespace MsgBoxStyle {
inline constexpr int OkOnly = 0;
inline constexpr int YesNo = 4;
inline constexpr int Critical = 16;
inline constexpr int Question = 32;
inline constexpr int Exclamation = 48;
inline constexpr int Information = 64;
}  // namespace MsgBoxStyle

// Answers a message box can give (IDOK, IDYES, IDNO).
namespace MsgBoxResult {
inline constexpr int Ok = 1;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
}  // namespace MsgBoxResult

namespace texts {

// Caption of every message box that names no title of its own. Note the backslash: the window's
// title bar and its title label use a slash instead.
inline constexpr char16_t kApplicationTitle[] = u"Varnel vCalendar\\iCalendar Importer";
inline constexpr char16_t kWindowTitle[] = VARNEL_WINDOW_TITLE(u);
// The title label, and the caption of the import's own messages.
inline constexpr char16_t kProductTitle[] = VARNEL_PRODUCT_TITLE(u);
inline constexpr char16_t kCopyright[] = VARNEL_COPYRIGHT(u);

// Controls of the main window (WindowCaptions.h, which the Windows dialog resource reads too).
inline constexpr char16_t kAddFilesButton[] = VARNEL_ADD_FILES_BUTTON(u);
inline constexpr char16_t kAddFolderButton[] = VARNEL_ADD_FOLDER_BUTTON(u);
inline constexpr char16_t kClearButton[] = VARNEL_CLEAR_BUTTON(u);
inline constexpr char16_t kNoFilesCount[] = VARNEL_NO_FILES_COUNT(u);
inline constexpr char16_t kDetailsFrame[] = VARNEL_DETAILS_FRAME(u);
inline constexpr char16_t kImportingLabel[] = VARNEL_IMPORTING_LABEL(u);
inline constexpr char16_t kCalendarsCounter[] = VARNEL_CALENDARS_COUNTER(u);
inline constexpr char16_t kCurrentFileProgress[] = VARNEL_CURRENT_FILE_PROGRESS(u);
inline constexpr char16_t kOverallProgress[] = VARNEL_OVERALL_PROGRESS(u);
inline constexpr char16_t kImportButton[] = VARNEL_IMPORT_BUTTON(u);
inline constexpr char16_t kExitButton[] = VARNEL_EXIT_BUTTON(u);

// The count label: the number of listed files + this.
inline constexpr char16_t kFilesCountSuffix[] = u" files";

// Questions.
inline constexpr char16_t kExitQuestion[] = u"Are you sure you want to exit now?";
inline constexpr char16_t kClearQuestion[] = u"Do you want to clear all the files in the list\r\n Proceed?";

// Dialogs: the file-open dialog's one filter ("description|patterns"), the most files one pick
// may return, and the titles of the two folder choosers.
inline constexpr char16_t kCalendarFileFilter[] = u"vCalendar & iCalendar Files (*.vcs,*.ics)|*.vcs;*.ics";
inline constexpr int kMaxFilesPerPick = 1000;
// The file-open dialog's error when a pick holds more files than it may return at once.
inline constexpr int kDialogBufferTooSmall = 20476;
inline constexpr char16_t kSourceFolderTitle[] = u"Choose Source Folder...";
inline constexpr char16_t kSaveFolderTitle[] = u"Choose Folder to Save...";

// The add buttons' messages.
Text SelectOnlyFiles(int maxFiles);                                   // "Please select only 1000 files at a time"
Text DialogError(int error, const Text& description);                 // "20476:..."
Text FilesAdded(int count);                                           // "12 Files Added to List."
Text FolderNotRead(const Text& folder, const Text& reason);           // a folder of the tree failed
Text FolderNotWalked(const Text& folder, const Text& what);           // the walk itself failed

// The import button's messages.
inline constexpr char16_t kNothingToImport[] =
    u"There are no calendar files in the list to import. Add files or a folder first.";
inline constexpr char16_t kOutlookErrorTitle[] = u"Outlook Error";
inline constexpr char16_t kOutlookError[] = u"Outlook Session Creation Error !\r\n"
                                            u"Check if Outlook is installed and configured.\r\n"
                                            u"For more details visit this link : https://support.microsoft.com/kb/287532";
// The report at the end of a run (its store path as given), and the details it unfolds.
Text CompletionText(const ImportResult& result);
Text CompletionDetails(const ImportResult& result);
// A run whose store stopped being written part-way.
Text ImportStopped(const ImportResult& result);

// Labels of the button that unfolds a message's details.
inline constexpr char16_t kShowDetails[] = u"Show Details...";
inline constexpr char16_t kHideDetails[] = u"Hide Details...";

}  // namespace texts
