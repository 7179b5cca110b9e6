#pragma once

#include "Bytes.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace pst {

// Raised when the store file cannot be read or written; names the file and the reason.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised when a folder's contents table can take no more rows; the store itself is unharmed
// and other folders can still be written.
class FolderFullError : public StoreError {
public:
    using StoreError::StoreError;
};

// What the node database writes its file through: positioned writes, a size, and a sync that
// returns only when everything written before it is on disk. Tests put their own layer here to
// record writes or fail them.
class FileLayer {
public:
    virtual ~FileLayer() = default;
    virtual void Write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
    virtual void Read(std::uint64_t offset, std::uint8_t* data, std::size_t size) = 0;
    virtual void Resize(std::uint64_t size) = 0;
    virtual void Sync() = 0;
    virtual void Close() = 0;
};

// A new file on disk, created exclusively: an existing file of that name is never opened.
// Failures name the file `nameInMessages` when given (the name the file will be known by).
std::unique_ptr<FileLayer> CreateDiskFile(const std::string& path, const std::string& nameInMessages = {});

}  // namespace pst
