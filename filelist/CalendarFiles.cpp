#include "CalendarFiles.h"

bool IsCalendarFileName(const Text& path)
{
    // Blanks only, as the classic trim does: a tab or line break around a name is part of it.
    // Lowering A to Z is enough: no other letter lowers to "v", "c", "s" or "i".
    const Text name = TrimSpaces(AsciiLower(path));
    return name.ends_with(u".vcs") || name.ends_with(u".ics");
}

std::shared_ptr<pathLogger::TextList> FilesBelow(const Text& folder, const FolderListingFactory& listing)
{
    pathLogger walker(listing);
    walker.PathLogInit();
    walker.setFullFileNamesOnly(true);
    walker.LogPath(folder);
    auto gathered = walker.fullFileNames();
    walker.Terminate();
    return gathered;
}
