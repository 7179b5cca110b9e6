#include "FolderListing.h"
#include "NativePath.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace {

Text Reason(const std::error_code& ec)
{
#ifdef _WIN32
    // The system's own text, in UTF-16 and without the line break it ends with.
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(ec.value()), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (ec.category() == std::system_category() && n > 0 && buffer) {
        Text text(buffer, buffer + n);
        LocalFree(buffer);
        while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ' || text.back() == u'.'))
            text.pop_back();
        return text;
    }
    if (buffer)
        LocalFree(buffer);
#endif
    return FromUtf8(ec.message());
}

// What tells a folder from every other: reaching it again through another name is noticed.
using FolderIdentity = std::pair<unsigned long long, unsigned long long>;

#ifdef _WIN32
// The volume and file index of a folder; links and junctions are not followed.
std::error_code IdentityOf(const fs::path& dir, FolderIdentity& identity)
{
    const HANDLE h = CreateFileW(dir.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::error_code(static_cast<int>(GetLastError()), std::system_category());
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info);
    const DWORD error = GetLastError();
    CloseHandle(h);
    if (!ok)
        return std::error_code(static_cast<int>(error), std::system_category());
    identity = {info.dwVolumeSerialNumber, (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return {};
}

// A symbolic link or junction: listed as what it points to for a file, never followed for a folder.
bool IsLink(const fs::path& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
#else
std::error_code IdentityOf(const fs::path& dir, FolderIdentity& identity)
{
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0)
        return std::error_code(errno, std::generic_category());
    identity = {st.st_dev, st.st_ino};
    return {};
}

bool IsLink(const fs::path&) { return false; }
#endif

class DiskListing : public FolderListing {
public:
    bool FolderExists(const Text& path) override
    {
        std::error_code ec;
        return !path.empty() && fs::is_directory(FileSystemPath(path), ec);
    }

    TextList SubFolders(const Text& folder) override
    {
        read(folder);
        return m_subFolders;
    }

    TextList Files(const Text& folder) override
    {
        // The walker asks for a folder's sub-folders and then for its files: one read serves both.
        if (folder != m_readFolder)
            read(folder);
        return m_files;
    }

private:
    void read(const Text& folder)
    {
        m_readFolder.clear();
        m_subFolders.clear();
        m_files.clear();

        const fs::path dir = FileSystemPath(folder);
        FolderIdentity identity;
        if (const std::error_code failed = IdentityOf(dir, identity))
            throw ListingError(folder, Reason(failed));
        if (!m_visited.insert(identity).second) {
            m_readFolder = folder;
            return;
        }

        std::vector<fs::path::string_type> subFolders;
        std::vector<fs::path::string_type> files;
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        if (ec)
            throw ListingError(folder, Reason(ec));
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            if (ec)
                throw ListingError(folder, Reason(ec));
            const fs::directory_entry& entry = *it;
            std::error_code typeError;
            if (entry.is_symlink(typeError) || IsLink(entry.path())) {
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
        m_subFolders.reserve(subFolders.size());
        for (const auto& name : subFolders)
            m_subFolders.push_back(TextFromFileSystemPath(name));
        m_files.reserve(files.size());
        for (const auto& name : files)
            m_files.push_back(TextFromFileSystemPath(name));
        m_readFolder = folder;
    }

    std::set<FolderIdentity> m_visited;
    Text m_readFolder;
    TextList m_subFolders;
    TextList m_files;
};

}  // namespace

std::unique_ptr<FolderListing> DiskFolderListing()
{
    return std::make_unique<DiskListing>();
}
