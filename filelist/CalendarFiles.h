#pragma once

// Finding the calendar files below a folder, the same way for the window's add-folder button and
// for the command line.
#include "FolderListing.h"
#include "pathLogger.h"

#include <memory>

// True when `path`, lower-cased and without blanks around it, ends in ".vcs" or ".ics".
bool IsCalendarFileName(const Text& path);

// Every file below `folder` (which ends in a separator), breadth-first, each folder's entries
// sorted by name. Throws ListingError when a folder of the tree cannot be read.
std::shared_ptr<pathLogger::TextList> FilesBelow(const Text& folder, const FolderListingFactory& listing);
