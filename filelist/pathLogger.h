#pragma once

#include "FolderListing.h"
#include "KeyedList.h"

#include <cstdint>
#include <memory>
#include <stdexcept>

// Collects every file below a folder, breadth-first. Usage: PathLogInit, optionally
// setFullFileNamesOnly, LogPath, read the lists, Terminate. The lists are handed out shared: a
// holder keeps all its entries after Terminate and after the walker is gone.
//
// Keys: pathNames has "K0" for the root, then K2, K3... for the folders found (no K1);
// fullFileNames, fileNames and pathPointers have K1, K2... for the files, in walk order.
// Count is one more than the number of files recorded: the number of the next file's key.
class pathLogger {
public:
    // The walker's own failures (no PathLogInit, a second LogPath, counter overflow). Failures of
    // the listing reach the caller as ListingError.
    struct Error : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    using TextList = KeyedList<Text>;
    using NumberList = KeyedList<std::int32_t>;

    explicit pathLogger(FolderListingFactory listing = DiskFolderListing);

    void PathLogInit();
    void LogPath(const Text& path);
    std::int32_t Count() const { return m_count; }
    void Terminate();

    bool fullFileNamesOnly() const { return m_fullFileNamesOnly; }
    void setFullFileNamesOnly(bool value) { m_fullFileNamesOnly = value; }

    std::shared_ptr<TextList> fileNames() { return held(m_fileNames); }
    std::shared_ptr<TextList> pathNames() { return held(m_pathNames); }
    std::shared_ptr<NumberList> pathPointers() { return held(m_pathPointers); }
    std::shared_ptr<TextList> fullFileNames() { return held(m_fullFileNames); }

    // Adds 1, failing rather than wrapping past the largest 32-bit value.
    static void Increment(std::int32_t& counter);

private:
    template <typename List>
    static std::shared_ptr<List> held(std::shared_ptr<List>& list)
    {
        if (!list)
            list = std::make_shared<List>();
        return list;
    }

    static Text AddBackslash(const Text& path);

    FolderListingFactory m_makeListing;
    std::unique_ptr<FolderListing> m_fso;
    // The walk's iteration state: the last folder's listings.
    ::TextList m_currentFiles;
    ::TextList m_currentSubFolders;
    std::int32_t m_count = 0;
    std::shared_ptr<TextList> m_fileNames;
    std::shared_ptr<NumberList> m_pathPointers;
    std::shared_ptr<TextList> m_pathNames;
    std::shared_ptr<TextList> m_fullFileNames;
    bool m_fullFileNamesOnly = false;
};
