#pragma once

#include "HeapOnNode.h"

#include <cstdint>
#include <vector>

namespace pst {

// Property types (MS-OXCDATA 2.11.1) the store writes.
enum PropType : std::uint16_t {
    PT_SHORT = 0x0002,
    PT_LONG = 0x0003,
    PT_FLOAT = 0x0004,
    PT_DOUBLE = 0x0005,
    PT_CURRENCY = 0x0006,
    PT_APPTIME = 0x0007,
    PT_ERROR = 0x000A,
    PT_BOOLEAN = 0x000B,
    PT_LONGLONG = 0x0014,
    PT_UNICODE = 0x001F,
    PT_SYSTIME = 0x0040,
    PT_CLSID = 0x0048,
    PT_BINARY = 0x0102,
    PT_MV_LONG = 0x1003,
    PT_MV_UNICODE = 0x101F,
    PT_MV_BINARY = 0x1102,
};

// One property as stored: its tag and its value bytes in the format's encoding (little-endian
// numbers, UTF-16LE strings, multi-valued lists as MS-PST 2.3.3.4.2 lays them out).
struct Property {
    std::uint16_t id = 0;
    std::uint16_t type = 0;
    Bytes value;

    std::uint32_t tag() const { return static_cast<std::uint32_t>(id) << 16 | type; }
};

Property Int32Property(std::uint16_t id, std::uint32_t v);
Property BoolProperty(std::uint16_t id, bool v);
Property Int64Property(std::uint16_t id, std::uint16_t type, std::uint64_t v);
Property StringProperty(std::uint16_t id, const std::string& utf8);
Property BinaryProperty(std::uint16_t id, Bytes v);

// The width of a fixed-size type, 0 for types stored by reference.
std::size_t FixedSize(std::uint16_t type);

// A node's content: its heap pages, and its subnodes, each a list of data blocks.
struct NodeImage {
    struct Subnode {
        std::uint32_t nid = 0;
        std::vector<Bytes> blocks;
        std::vector<Subnode> children;  // the subnode's own subnodes
    };
    std::vector<Bytes> blocks;
    std::vector<Subnode> subnodes;
};

// Splits bytes into full data blocks, the last one shorter.
std::vector<Bytes> SplitIntoBlocks(const Bytes& data);

// A property context (MS-PST 2.3.3): values of up to 4 bytes inline, others in the heap, those
// larger than a heap item in subnodes.
NodeImage BuildPropertyContext(std::vector<Property> properties);

}  // namespace pst

namespace pst {

class NodeDatabase;
struct NBTENTRY;

// Writes a node's heap pages and subnodes and enters the node in the node B-tree.
void StoreNode(NodeDatabase& db, std::uint32_t nid, std::uint32_t nidParent, const NodeImage& image);
// Bytes of a node's data and all its subnodes' data: what PidTagMessageSize counts.
std::size_t ImageSize(const NodeImage& image);

}  // namespace pst
