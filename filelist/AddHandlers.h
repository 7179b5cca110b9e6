#pragma once

#include "CalendarFiles.h"
#include "FolderListing.h"

#include <QString>

class QWidget;
class SourceFileList;
class UserPrompts;

#include "import/WindowTexts.h"

// Filter of the file-open dialog, and the most files one pick may return.
inline const QString kCalendarFileFilter = QString::fromUtf16(texts::kCalendarFileFilter);
inline constexpr int kMaxFilesPerPick = texts::kMaxFilesPerPick;

inline const QString kSourceFolderTitle = QString::fromUtf16(texts::kSourceFolderTitle);

// The add-files button: the files picked in the file-open dialog are appended as given, in the
// dialog's order. Enables the import button unless the pick was cancelled or failed.
void AddPickedFiles(SourceFileList& list, UserPrompts& prompts, QWidget& importButton);

// The add-folder button: every .vcs and .ics file below the picked folder is appended, in walk
// order, and a message says how many. The import button is enabled when at least one file was
// added, disabled otherwise. Yields to the event loop between files.
void AddFolderFiles(SourceFileList& list, UserPrompts& prompts, QWidget& importButton,
                    const FolderListingFactory& listing);
