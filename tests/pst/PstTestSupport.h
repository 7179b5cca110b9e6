#pragma once

// Helpers for the store tests: an in-memory file that records every write, and a reader of the
// node B-tree written independently of the writer's own structures.
#include "pst/ndb/Bytes.h"
#include "pst/ndb/Crc.h"
#include "pst/ndb/FileLayer.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pst::test {

// A file held in memory. Every write is kept in order, so a test can rebuild the file as it
// stood after any number of writes.
struct MemoryFile {
    Bytes content;
    std::vector<std::pair<std::uint64_t, Bytes>> writes;
    int syncs = 0;

    std::unique_ptr<FileLayer> Layer();

    // The file after the first `count` writes recorded since `from`, on top of `base`.
    static Bytes Replay(const Bytes& base, const std::vector<std::pair<std::uint64_t, Bytes>>& writes,
                        std::size_t from, std::size_t count);
};

// The NBT as the file's header points at it: NID -> {bidData, bidSub, nidParent}. Empty when the
// header or any page on the way fails its checks (magic, CRCs, page type, level order).
struct NodeInfo {
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
    std::uint32_t parent = 0;
};
std::optional<std::map<std::uint32_t, NodeInfo>> ReadNodeTree(const Bytes& file, int* depth = nullptr);

// Runs a command, returning its exit status and its standard output and error together (its
// output only, without `errors`).
int RunCommand(const std::string& command, std::string* output, bool errors = true);

// A fresh temporary directory, removed with its contents by the destructor.
// `size` bytes of a seeded pseudo-random pattern.
Bytes Pattern(std::size_t size, std::uint32_t seed);

struct TempDir {
    TempDir();
    ~TempDir();
    std::string path;
};

}  // namespace pst::test
