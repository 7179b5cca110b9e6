#include "CalendarFiles.h"

namespace {

// Blanks only, as the classic trim does: a tab or line break around a name is part of it.
QString TrimBlanks(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

}  // namespace

bool IsCalendarFileName(const QString& path)
{
    const QString name = TrimBlanks(path.toLower());
    return name.endsWith(QLatin1String(".vcs")) || name.endsWith(QLatin1String(".ics"));
}

std::shared_ptr<pathLogger::TextList> FilesBelow(const QString& folder, const FolderListingFactory& listing)
{
    pathLogger walker(listing);
    walker.PathLogInit();
    walker.setFullFileNamesOnly(true);
    walker.LogPath(folder);
    auto gathered = walker.fullFileNames();
    walker.Terminate();
    return gathered;
}
