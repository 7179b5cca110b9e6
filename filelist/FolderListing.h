#pragma once

#include "import/Text.h"

#include <functional>
#include <memory>
#include <stdexcept>

// Raised when a folder cannot be listed: names the folder and says why.
class ListingError : public std::runtime_error {
public:
    ListingError(const Text& folder, const Text& reason)
        : std::runtime_error(Utf8(folder + u": " + reason))
        , m_folder(folder)
        , m_reason(reason)
    {
    }
    const Text& folder() const { return m_folder; }
    const Text& reason() const { return m_reason; }

private:
    Text m_folder;
    Text m_reason;
};

// What the folder walker reads folders through: whether a folder exists, and the names of a
// folder's immediate sub-folders and files, in the order the listing gives them.
class FolderListing {
public:
    virtual ~FolderListing() = default;

    virtual bool FolderExists(const Text& path) = 0;
    // Both throw ListingError when the folder cannot be listed.
    virtual TextList SubFolders(const Text& folder) = 0;
    virtual TextList Files(const Text& folder) = 0;
};

using FolderListingFactory = std::function<std::unique_ptr<FolderListing>()>;

// The file system, through std::filesystem. Each folder's entries come sorted by name (byte
// order; UTF-16 code unit order on Windows), so the order a user sees does not depend on the file
// system's. Files are regular files, links to them included. Links (and junctions) to folders are
// not followed, and a folder reached a second time (through a bind mount, say) is listed as empty,
// so no folder tree makes a walk endless.
std::unique_ptr<FolderListing> DiskFolderListing();
