#include "FolderListing.h"
#include "NativePath.h"

#include <QFile>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path ToPath(const QString& path)
{
    return fs::path(NativePathFromText(path));
}

QString FromName(const std::string& name)
{
    return TextFromNativePath(name);
}

QString Reason(const std::error_code& ec)
{
    return QString::fromLocal8Bit(ec.message().c_str());
}

class DiskListing : public FolderListing {
public:
    bool FolderExists(const QString& path) override
    {
        std::error_code ec;
        return !path.isEmpty() && fs::is_directory(ToPath(path), ec);
    }

    QStringList SubFolders(const QString& folder) override
    {
        read(folder);
        return m_subFolders;
    }

    QStringList Files(const QString& folder) override
    {
        // The walker asks for a folder's sub-folders and then for its files: one read serves both.
        if (folder != m_readFolder)
            read(folder);
        return m_files;
    }

private:
    void read(const QString& folder)
    {
        m_readFolder.clear();
        m_subFolders.clear();
        m_files.clear();

        const fs::path dir = ToPath(folder);
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0)
            throw ListingError(folder, Reason(std::error_code(errno, std::generic_category())));
        if (!m_visited.insert({st.st_dev, st.st_ino}).second) {
            m_readFolder = folder;
            return;
        }

        std::vector<std::string> subFolders;
        std::vector<std::string> files;
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        if (ec)
            throw ListingError(folder, Reason(ec));
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            if (ec)
                throw ListingError(folder, Reason(ec));
            const fs::directory_entry& entry = *it;
            std::error_code typeError;
            if (entry.is_symlink(typeError)) {
                if (entry.is_regular_file(typeError))
                    files.push_back(entry.path().filename().native());
                continue;
            }
            if (entry.is_directory(typeError))
                subFolders.push_back(entry.path().filename().native());
            else if (entry.is_regular_file(typeError))
                files.push_back(entry.path().filename().native());
        }
        if (ec)
            throw ListingError(folder, Reason(ec));

        std::sort(subFolders.begin(), subFolders.end());
        std::sort(files.begin(), files.end());
        m_subFolders.reserve(static_cast<qsizetype>(subFolders.size()));
        for (const std::string& name : subFolders)
            m_subFolders << FromName(name);
        m_files.reserve(static_cast<qsizetype>(files.size()));
        for (const std::string& name : files)
            m_files << FromName(name);
        m_readFolder = folder;
    }

    std::set<std::pair<dev_t, ino_t>> m_visited;
    QString m_readFolder;
    QStringList m_subFolders;
    QStringList m_files;
};

}  // namespace

std::unique_ptr<FolderListing> DiskFolderListing()
{
    return std::make_unique<DiskListing>();
}
