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

// Builds property contexts one after another in the same buffers: the values are copied into one
// arena, the heap keeps its pages, and the image's blocks are laid out into the buffers the
// caller's image already holds. Building a message's properties allocates nothing once the
// buffers have grown to the largest message.
class PropertyContextBuilder {
public:
    PropertyContextBuilder();

    void Clear();
    void Add(std::uint16_t id, std::uint16_t type, const std::uint8_t* value, std::size_t size);
    void Add(const Property& p) { Add(p.id, p.type, p.value.data(), p.value.size()); }
    std::size_t size() const { return m_entries.size(); }

    // Lays the properties out in the heap (sorted by ID); then the image's size is known.
    void Lay();
    // Bytes of the image Write() gives: its heap pages and its subnodes' blocks.
    std::size_t ImageBytes() const;
    // Sets the value of an inline property (a fixed size of up to four bytes) after Lay(), which
    // leaves the layout, and so the image's size, as it is. False when there is no such property.
    bool SetInline(std::uint16_t id, std::uint32_t value);
    // The image of what was laid out, into `image` (its block buffers reused). Values too large
    // for the heap move into the image's subnodes: write once per Lay().
    void Write(NodeImage& image);

    // A value added, by tag, after Lay(): null when there is none.
    const std::uint8_t* Find(std::uint32_t tag, std::size_t* size) const;

private:
    struct Entry {
        std::uint16_t id = 0;
        std::uint16_t type = 0;
        std::uint32_t offset = 0;  // in m_values
        std::uint32_t size = 0;
    };
    std::vector<Entry> m_entries;
    Bytes m_values;
    HeapOnNode m_heap;
    Bytes m_records;
    std::vector<std::uint32_t> m_leaves;
    std::vector<NodeImage::Subnode> m_subnodes;
    bool m_laid = false;
};

}  // namespace pst

namespace pst {

class NodeDatabase;
struct NBTENTRY;

// Writes a node's heap pages and subnodes and enters the node in the node B-tree.
void StoreNode(NodeDatabase& db, std::uint32_t nid, std::uint32_t nidParent, const NodeImage& image);
// The same with further subnodes kept elsewhere besides the image's own (a table many nodes
// share the content of, written for each without being copied into each image).
void StoreNode(NodeDatabase& db, std::uint32_t nid, std::uint32_t nidParent, const NodeImage& image,
               const std::vector<const NodeImage::Subnode*>& more);
// Bytes of a node's data and all its subnodes' data: what PidTagMessageSize counts.
std::size_t ImageSize(const NodeImage& image);
// The same of one subnode and its own subnodes.
std::size_t SubnodeSize(const NodeImage::Subnode& subnode);

}  // namespace pst
