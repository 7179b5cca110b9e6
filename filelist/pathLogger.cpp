#include "pathLogger.h"

#include <limits>

namespace {

Text Key(std::int32_t n)
{
    Text key = u"K";
    key += Number(n);
    return key;
}

}  // namespace

pathLogger::pathLogger(FolderListingFactory listing)
    : m_makeListing(std::move(listing))
{
}

void pathLogger::Increment(std::int32_t& counter)
{
    if (counter == std::numeric_limits<std::int32_t>::max())
        throw Error("overflow: more than 2147483647 folders or files");
    ++counter;
}

Text pathLogger::AddBackslash(const Text& path)
{
    return path.ends_with(kPathSeparator) ? path : path + kPathSeparator;
}

void pathLogger::PathLogInit()
{
    m_fso = m_makeListing();
    m_fullFileNamesOnly = true;
    m_fileNames.reset();
    m_pathPointers.reset();
    m_pathNames.reset();
    m_fullFileNames.reset();
}

void pathLogger::LogPath(const Text& path)
{
    if (!m_fso)
        throw Error("the folder walker was not prepared (PathLogInit) before the walk");
    if (!m_fso->FolderExists(path))
        return;

    std::int32_t folders = 1;
    std::int32_t position = 1;
    m_count = 1;
    auto folderList = pathNames();
    folderList->Add(AddBackslash(path), u"K0");
    auto fullNames = fullFileNames();

    do {
        const Text folder = folderList->Item(position);
        m_currentSubFolders = m_fso->SubFolders(folder);
        for (const Text& name : m_currentSubFolders) {
            Increment(folders);
            folderList->Add(folder + name + kPathSeparator, Key(folders));
        }

        m_currentFiles = m_fso->Files(folder);
        if (m_fullFileNamesOnly) {
            for (const Text& name : m_currentFiles) {
                fullNames->Add(folder + name, Key(m_count));
                Increment(m_count);
            }
        } else {
            auto names = fileNames();
            auto pointers = pathPointers();
            for (const Text& name : m_currentFiles) {
                const Text key = Key(m_count);
                names->Add(name, key);
                fullNames->Add(folder + name, key);
                pointers->Add(position, key);
                Increment(m_count);
            }
        }
        Increment(position);
    } while (position <= folders);
}

void pathLogger::Terminate()
{
    m_fso.reset();
    m_currentFiles.clear();
    m_currentSubFolders.clear();
    m_fileNames.reset();
    m_pathNames.reset();
    m_pathPointers.reset();
    m_fullFileNames.reset();
}
