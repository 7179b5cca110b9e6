#include "WindowTexts.h"

namespace texts {

Text SelectOnlyFiles(int maxFiles) { return u"Please select only " + Number(maxFiles) + u" files at a time"; }

Text DialogError(int error, const Text& description) { return Number(error) + u":" + description; }

Text FilesAdded(int count) { return Number(count) + u" Files Added to List."; }

Text FolderNotRead(const Text& folder, const Text& reason)
{
    return u"The folder \"" + folder + u"\" could not be read: " + reason + u"\r\nNo files were added.";
}

Text FolderNotWalked(const Text& folder, const Text& what)
{
    return u"The folder \"" + folder + u"\" could not be walked: " + what + u"\r\nNo files were added.";
}

Text CompletionText(const ImportResult& result)
{
    Text text = u"The calendars have been imported into Outlook.\n\n" + Number(result.filesImported)
                + u" file(s) imported, " + Number(result.appointments) + u" appointment(s) written to\n"
                + result.storePath;
    if (result.itemsSkipped > 0)
        text += u"\n\n" + Number(result.itemsSkipped)
                + u" task(s) and journal entries were skipped: they are not appointments.";
    if (!result.failed.empty())
        text += u"\n\n" + Number(static_cast<long long>(result.failed.size()))
                + u" file(s) could not be imported. Show the details to see which and why.";
    return text;
}

Text CompletionDetails(const ImportResult& result)
{
    TextList lines;
    if (!result.failed.empty()) {
        lines.push_back(u"Files not imported:");
        for (const FailedFile& f : result.failed)
            lines.push_back(f.path + u": " + f.reason);
    }
    if (!result.warnings.empty()) {
        if (!lines.empty())
            lines.push_back(Text());
        lines.push_back(u"Imported with remarks:");
        lines.insert(lines.end(), result.warnings.begin(), result.warnings.end());
    }
    return Join(lines, u'\n');
}

Text ImportStopped(const ImportResult& result)
{
    return result.error + u"\n\nThe import was stopped. The store holds the " + Number(result.filesImported)
           + u" file(s) imported before.";
}

}  // namespace texts
