#include "pathLogger.h"

#include <QDir>

#include <limits>

namespace {

QString Key(std::int32_t n)
{
    return QStringLiteral("K") + QString::number(n);
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

QString pathLogger::AddBackslash(const QString& path)
{
    const QChar separator = QDir::separator();
    return path.endsWith(separator) ? path : path + separator;
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

void pathLogger::LogPath(const QString& path)
{
    if (!m_fso)
        throw Error("the folder walker was not prepared (PathLogInit) before the walk");
    if (!m_fso->FolderExists(path))
        return;

    std::int32_t folders = 1;
    std::int32_t position = 1;
    m_count = 1;
    auto folderList = pathNames();
    folderList->Add(AddBackslash(path), QStringLiteral("K0"));
    auto fullNames = fullFileNames();

    do {
        const QString folder = folderList->Item(position);
        m_currentSubFolders = m_fso->SubFolders(folder);
        for (const QString& name : m_currentSubFolders) {
            Increment(folders);
            folderList->Add(folder + name + QDir::separator(), Key(folders));
        }

        m_currentFiles = m_fso->Files(folder);
        if (m_fullFileNamesOnly) {
            for (const QString& name : m_currentFiles) {
                fullNames->Add(folder + name, Key(m_count));
                Increment(m_count);
            }
        } else {
            auto names = fileNames();
            auto pointers = pathPointers();
            for (const QString& name : m_currentFiles) {
                const QString key = Key(m_count);
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
