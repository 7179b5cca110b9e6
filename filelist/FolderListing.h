#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>

// Raised when a folder cannot be listed: names the folder and says why.
class ListingError : public std::runtime_error {
public:
    ListingError(const QString& folder, const QString& reason)
        : std::runtime_error((folder + QStringLiteral(": ") + reason).toStdString())
        , m_folder(folder)
        , m_reason(reason)
    {
    }
    const QString& folder() const { return m_folder; }
    const QString& reason() const { return m_reason; }

private:
    QString m_folder;
    QString m_reason;
};

// What the folder walker reads folders through: whether a folder exists, and the names of a
// folder's immediate sub-folders and files, in the order the listing gives them.
class FolderListing {
public:
    virtual ~FolderListing() = default;

    virtual bool FolderExists(const QString& path) = 0;
    // Both throw ListingError when the folder cannot be listed.
    virtual QStringList SubFolders(const QString& folder) = 0;
    virtual QStringList Files(const QString& folder) = 0;
};

using FolderListingFactory = std::function<std::unique_ptr<FolderListing>()>;

// The file system, through std::filesystem. Each folder's entries come sorted by name (byte
// order), so the order a user sees does not depend on the file system's. Files are regular files,
// links to them included. Links to folders are not followed, and a folder reached a second time
// (through a bind mount, say) is listed as empty, so no folder tree makes a walk endless.
std::unique_ptr<FolderListing> DiskFolderListing();
