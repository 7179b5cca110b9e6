#pragma once

#include "BlockTable.h"
#include "FileLayer.h"
#include "Header.h"
#include "PageTree.h"
#include "Pages.h"

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace pst {

// NID types (MS-PST 2.2.2.1) that this writer hands out.
enum NidType : std::uint8_t {
    NID_TYPE_HID = 0x00,
    NID_TYPE_INTERNAL = 0x01,
    NID_TYPE_NORMAL_FOLDER = 0x02,
    NID_TYPE_SEARCH_FOLDER = 0x03,
    NID_TYPE_NORMAL_MESSAGE = 0x04,
    NID_TYPE_ATTACHMENT = 0x05,
    NID_TYPE_SEARCH_UPDATE_QUEUE = 0x06,
    NID_TYPE_SEARCH_CRITERIA_OBJECT = 0x07,
    NID_TYPE_ASSOC_MESSAGE = 0x08,
    NID_TYPE_CONTENTS_TABLE_INDEX = 0x0A,
    NID_TYPE_RECEIVE_FOLDER_TABLE = 0x0B,
    NID_TYPE_OUTGOING_QUEUE_TABLE = 0x0C,
    NID_TYPE_HIERARCHY_TABLE = 0x0D,
    NID_TYPE_CONTENTS_TABLE = 0x0E,
    NID_TYPE_ASSOC_CONTENTS_TABLE = 0x0F,
    NID_TYPE_SEARCH_CONTENTS_TABLE = 0x10,
    NID_TYPE_ATTACHMENT_TABLE = 0x11,
    NID_TYPE_RECIPIENT_TABLE = 0x12,
    NID_TYPE_SEARCH_TABLE_INDEX = 0x13,
    NID_TYPE_LTP = 0x1F,
};

constexpr std::uint32_t MakeNid(std::uint32_t index, std::uint8_t type) { return index << 5 | type; }

// SLENTRY (MS-PST 2.2.2.8.3.3.1.1): a subnode of a node.
struct SLENTRY {
    std::uint32_t nid = 0;
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
};

// The node database (MS-PST 2.2.2): blocks, the node and block B-trees and the allocation maps of
// one store file, written copy-on-write. Nothing written since the last Commit is visible to a
// reader of the file, and Commit makes the file consistent in one header write: a process killed
// at any moment leaves the state of the last finished Commit.
class NodeDatabase {
public:
    // Block sizes (MS-PST 2.2.2.8): 8,192 bytes on disk at most, 16 of them the trailer.
    static constexpr std::size_t kMaxBlockData = 8176;
    static constexpr std::size_t kXBlockMaxEntries = 1021;
    static constexpr std::size_t kSLBlockMaxEntries = 340;
    static constexpr std::size_t kSIBlockMaxEntries = 510;
    // Each allocation-map interval covers 253,952 bytes, the first one starting at 0x4400.
    static constexpr std::uint64_t kFirstAMap = 0x4400;
    static constexpr std::uint64_t kIntervalSize = 0x3E000;
    static constexpr std::uint64_t kDListOffset = 0x4200;
    // Outlook's default MaxLargeFileSize (50 GB): it adds nothing to a larger store unless the
    // registry raises the limit, so the writer stops there.
    static constexpr std::uint64_t kMaxFileSize = 50ull * 1024 * 1024 * 1024;

    // A new, empty database in `file`. Nothing is on disk until the first Commit.
    explicit NodeDatabase(std::unique_ptr<FileLayer> file);
    ~NodeDatabase();

    // Writes `size` bytes as a data tree: one block, or an XBLOCK / XXBLOCK over full blocks.
    // Returns the root BID, not yet referenced by any node.
    std::uint64_t WriteData(const std::uint8_t* data, std::size_t size);
    std::uint64_t WriteData(const Bytes& data) { return WriteData(data.data(), data.size()); }
    // Writes each of `blocks` (at most 8,176 bytes each) as one data block, under an XBLOCK when
    // there are several: the layout a heap-on-node needs, one heap page a block.
    std::uint64_t WriteBlocks(const std::vector<Bytes>& blocks);
    // One data block of at most 8,176 bytes, not yet referenced.
    std::uint64_t WriteDataBlock(const Bytes& payload) { return WriteBlock(payload, false); }
    // A data tree over data blocks already written, in order: the one block itself, or an
    // XBLOCK / XXBLOCK over them. Lets a node that changes at its end keep its other blocks.
    std::uint64_t WriteTree(const std::vector<std::uint64_t>& dataBids);
    // Writes a subnode B-tree (SLBLOCK, or SIBLOCK over SLBLOCKs) of `entries`.
    std::uint64_t WriteSubnodes(std::vector<SLENTRY> entries);

    // Adds or replaces a node. The blocks the node used before are released.
    void SetNode(const NBTENTRY& entry);
    void RemoveNode(std::uint32_t nid);
    std::optional<NBTENTRY> Node(std::uint32_t nid) const;
    std::size_t NodeCount() const { return m_nbt.size(); }

    // Reads back a data tree or a subnode tree this database wrote.
    Bytes ReadData(std::uint64_t bid);
    std::vector<Bytes> ReadBlocks(std::uint64_t bid);
    std::vector<SLENTRY> ReadSubnodes(std::uint64_t bid);

    // Hands out the next NID index of a type (kept in the header's rgnid).
    std::uint32_t NewNid(NidType type);
    // Raises a type's counter to at least `index` (types that share a folder's index).
    void ReserveNidIndex(NidType type, std::uint32_t index);
    // A number that grows with every call, for row versions.
    std::uint32_t NextUnique() { return ++m_rowVersion; }

    void Commit();
    // Commits once more if space was freed since the last commit, then closes the file.
    void Close();

    const Header& header() const { return m_header; }
    std::uint64_t FileSize() const;

    // How much of the B-trees stays in memory between commits: written leaf pages of each tree,
    // and states of blocks not changed since the last commit. Whatever is let go is read back from
    // the file when needed; 0 and 0 read everything back (for tests).
    void HoldInMemory(std::size_t leavesPerTree, std::size_t blockStates);

private:
    struct Interval {
        std::array<std::uint8_t, kPageDataSize> bits{};
        std::uint32_t used = 0;  // units marked in `bits`
        bool dirty = true;
        // The fewest units a whole-interval search found no room for, for block (0) and page (1)
        // alignment; freeing units clears them. Larger requests pass the interval over.
        std::array<std::uint32_t, 2> noRoomFor{UINT32_MAX, UINT32_MAX};
    };
    // A full XBLOCK kept for reuse: its BID and a hash of its children.
    struct Group {
        std::uint64_t hash = 0;
        std::uint64_t xbid = 0;
    };
    static constexpr std::size_t kDefaultHeldBlocks = 16384;

    std::uint64_t WriteBlock(const Bytes& payload, bool internal);
    // `total` is the bytes under the blocks; without it their sizes are added up.
    std::uint64_t WriteXBlocks(const std::vector<std::uint64_t>& dataBids, std::optional<std::uint64_t> total);
    void AddRef(std::uint64_t bid);
    void Release(std::uint64_t bid);
    // The state of a block in use, from the table or else from its block B-tree entry (then added
    // to the table); null when there is no such block.
    BlockState* Block(std::uint64_t bid);
    // Where a block is and its size, without adding it to the table.
    std::optional<BlockState> Locate(std::uint64_t bid);
    Bytes Payload(std::uint64_t bid);
    // The blocks an internal block references, in the order it holds them.
    static std::vector<std::uint64_t> ChildrenOf(std::uint64_t bid, const Bytes& payload);
    // The XBLOCK already over these kXBlockMaxEntries blocks, and the bytes under it.
    std::optional<std::pair<std::uint64_t, std::uint32_t>> KnownGroup(const std::uint64_t* group, std::uint64_t hash);
    int ReadLeaf(const BREF& page, PageType type, void* entries);

    std::uint64_t Allocate(std::size_t size, std::size_t align);
    void AddInterval();
    void MarkUnits(std::uint64_t ib, std::size_t size, bool used);
    void FreeLater(std::uint64_t ib, std::size_t size);

    BREF WritePage(const std::function<Bytes(std::uint64_t bid, std::uint64_t ib)>& image);
    void MarkBlock(BlockState& block)
    {
        if (!block.changed) {
            block.changed = true;
            m_changed.push_back(block.bid);
        }
    }
    void WriteHeader(std::uint8_t fAMapValid);
    // Writes the maps of every changed interval; returns the bytes they mark free.
    std::uint64_t WriteMaps();

    std::string m_writeFailure;  // the first failed file operation's reason; nothing is written after it
    std::unique_ptr<FileLayer> m_file;
    Header m_header;
    std::vector<Interval> m_intervals;
    std::vector<std::pair<std::uint64_t, std::size_t>> m_pendingFree;
    // The B-trees as the next commit writes them; the node B-tree is the index of nodes.
    mutable PageTree<NBTENTRY> m_nbt;
    PageTree<BBTENTRY> m_bbt;
    // Blocks written, referenced or released lately; any other block in use is in the block B-tree
    // with refs = cRef - 1.
    BlockTable m_blocks;
    std::vector<std::uint64_t> m_changed;  // blocks added or re-counted since the last commit
    std::size_t m_holdBlocks = kDefaultHeldBlocks;
    std::uint32_t m_clock = 0;  // commits so far
    // XBLOCKs over full groups of data blocks: a node rewritten at its end keeps the groups
    // before it.
    std::vector<Group> m_groups;
    bool m_committed = false;
    bool m_closed = false;
    std::uint32_t m_rowVersion = 0;
    std::size_t m_cursorInterval = 0;
    std::size_t m_cursorUnit = 0;
};

}  // namespace pst
