// Heaps, BTrees-on-heap, property contexts and table contexts: written, stored, and read back.
#include "PstTestSupport.h"
#include "pst/ltp/AppendableTable.h"
#include "pst/ltp/LtpReader.h"
#include "pst/store/MessageStore.h"

#include <gtest/gtest.h>

using namespace pst;
using namespace pst::test;

namespace {

std::string Text(std::size_t n, char c) { return std::string(n, c); }

struct Db {
    MemoryFile memory;
    NodeDatabase db{memory.Layer()};

    std::uint32_t Store(const NodeImage& image)
    {
        const std::uint32_t nid = db.NewNid(NID_TYPE_INTERNAL);
        StoreNode(db, nid, 0, image);
        return nid;
    }
};

}  // namespace

TEST(HeapOnNode, ItemsSpreadOverPagesWithTheBitmapPageAtEight)
{
    HeapOnNode heap(HeapOnNode::kPropertyContext);
    std::vector<std::pair<std::uint32_t, Bytes>> items;
    for (std::uint32_t i = 0; i < 400; ++i) {
        Bytes item(1000 + i % 7, static_cast<std::uint8_t>(i));
        items.emplace_back(heap.Allocate(item), item);
    }
    const auto blocks = heap.Blocks();
    ASSERT_GT(blocks.size(), 9u);
    for (const Bytes& b : blocks) {
        EXPECT_LE(b.size(), NodeDatabase::kMaxBlockData);
        EXPECT_EQ(Get16(b.data()) % 2, 0) << "page map not on an even offset";
    }
    // Page 8 opens with the 66-byte bitmap header, so its first item starts at 66.
    const Bytes& eight = blocks[8];
    EXPECT_EQ(Get16(eight.data() + Get16(eight.data()) + 4), 66);

    Db store;
    const std::uint32_t nid = store.Store(NodeImage{blocks, {}});
    LtpReader reader(store.db, nid);
    for (const auto& [hid, bytes] : items)
        ASSERT_EQ(reader.Value(hid), bytes) << "hid " << hid;
}

TEST(PropertyContext, EveryKindOfValueReadsBack)
{
    const std::string large = Text(5000, 'x');  // past a heap item: goes to a subnode
    std::vector<Property> props = {
        Int32Property(0x3602, 7),
        BoolProperty(0x360A, true),
        Property{0x1234, PT_SHORT, Bytes{0x34, 0x12}},
        Int64Property(0x3007, PT_SYSTIME, 0x01D8C0FFEE123456ull),
        StringProperty(0x3001, "Kalender \xC3\xA4\xE2\x82\xAC \xF0\x9F\x93\x85"),
        StringProperty(0x3004, ""),
        StringProperty(0x1000, large),
        BinaryProperty(0x0FF9, Bytes(16, 0xAB)),
        Property{0x8001, PT_MV_UNICODE, Bytes{1, 0, 0, 0, 8, 0, 0, 0, 'a', 0}},
    };
    Db store;
    const std::uint32_t nid = store.Store(BuildPropertyContext(props));
    LtpReader reader(store.db, nid);
    EXPECT_EQ(reader.ClientSig(), HeapOnNode::kPropertyContext);
    const auto back = reader.Properties();
    ASSERT_EQ(back.size(), props.size());
    for (const Property& p : props) {
        ASSERT_TRUE(back.count(p.id)) << std::hex << p.id;
        EXPECT_EQ(back.at(p.id).type, p.type);
        EXPECT_EQ(back.at(p.id).value, p.value) << std::hex << p.id;
    }
    EXPECT_EQ(store.db.ReadSubnodes(store.db.Node(nid)->bidSub).size(), 1u);
}

TEST(PropertyContext, ManyPropertiesNeedAnIndexLevel)
{
    std::vector<Property> props;
    for (std::uint16_t id = 0x8000; id < 0x8000 + 700; ++id)
        props.push_back(Int32Property(id, id));
    Db store;
    const std::uint32_t nid = store.Store(BuildPropertyContext(props));
    LtpReader reader(store.db, nid);
    const auto back = reader.Properties();
    ASSERT_EQ(back.size(), 700u);
    EXPECT_EQ(Get32(back.at(0x8123).value.data()), 0x8123u);
}

TEST(TableLayout, MatchesOutlooksTemplates)
{
    // Row layouts as Outlook's own empty store has them (TCI_4b, TCI_2b, TCI_1b, TCI_bm).
    const TableLayout hierarchy = TableLayout::ForColumns(TableTemplates::Hierarchy());
    EXPECT_EQ(std::vector<int>(hierarchy.rgib, hierarchy.rgib + 4), (std::vector<int>{52, 52, 53, 55}));
    const TableLayout contents = TableLayout::ForColumns(TableTemplates::Contents());
    EXPECT_EQ(std::vector<int>(contents.rgib, contents.rgib + 4), (std::vector<int>{120, 120, 122, 126}));
    const TableLayout recipient = TableLayout::ForColumns(TableTemplates::Recipient());
    EXPECT_EQ(std::vector<int>(recipient.rgib, recipient.rgib + 4), (std::vector<int>{48, 48, 50, 52}));
    const TableLayout search = TableLayout::ForColumns(TableTemplates::SearchContents());
    EXPECT_EQ(std::vector<int>(search.rgib, search.rgib + 4), (std::vector<int>{72, 72, 75, 78}));
    for (const TCOLDESC& c : hierarchy.columns) {
        if (c.tag == 0x360A000B) {
            EXPECT_EQ(c.ibData, 52);
        }
    }
}

TEST(TableContext, ThousandsOfRowsReadBackInRowIdOrder)
{
    const TableLayout layout = TableLayout::ForColumns(TableTemplates::Hierarchy());
    std::vector<TableRow> rows;
    for (std::uint32_t i = 0; i < 5000; ++i) {
        TableRow row;
        row.rowId = MakeNid(0x10000 + (i * 7919) % 5000, NID_TYPE_NORMAL_FOLDER);  // not in order
        row.version = i;
        row.cells[0x3001001F] = Utf16le("Folder " + std::to_string(i));
        row.cells[0x36020003] = Bytes{static_cast<std::uint8_t>(i), 0, 0, 0};
        if (i % 2)
            row.cells[0x360A000B] = Bytes{1};
        if (i == 17)
            row.cells[0x3613001F] = Utf16le(Text(4000, 'c'));  // a cell too large for the heap
        rows.push_back(row);
    }
    Db store;
    const std::uint32_t nid = store.Store(BuildTableContext(layout, rows));
    LtpReader reader(store.db, nid);
    EXPECT_EQ(reader.ClientSig(), HeapOnNode::kTableContext);
    const auto table = reader.ReadTable();
    ASSERT_EQ(table.rows.size(), rows.size());
    std::sort(rows.begin(), rows.end(), [](const TableRow& a, const TableRow& b) { return a.rowId < b.rowId; });
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(table.rows[i].rowId, rows[i].rowId);
        EXPECT_EQ(table.rows[i].version, rows[i].version);
        EXPECT_EQ(table.rows[i].cells, rows[i].cells) << "row " << i;
    }
    // The rows live in a subnode, the heap spans many pages, and the row index has index levels.
    const auto subnodes = store.db.ReadSubnodes(store.db.Node(nid)->bidSub);
    EXPECT_EQ(subnodes.size(), 2u);
    EXPECT_GT(store.db.ReadBlocks(store.db.Node(nid)->bidData).size(), 8u);
}

TEST(TableContext, AnEmptyTableHasAnEmptyRowIndex)
{
    Db store;
    const std::uint32_t nid = store.Store(BuildTableContext(TableLayout::ForColumns(TableTemplates::Contents()), {}));
    LtpReader reader(store.db, nid);
    const auto table = reader.ReadTable();
    EXPECT_TRUE(table.rows.empty());
    EXPECT_EQ(table.columns.size(), 28u);
    EXPECT_TRUE(std::is_sorted(table.columns.begin(), table.columns.end(),
                               [](const TCOLDESC& a, const TCOLDESC& b) { return a.tag < b.tag; }));
}

TEST(NameToIdMap, EntriesKeepTheirIdsAndLandInTheirBuckets)
{
    NameToIdMap map;
    const std::uint16_t start = map.Numeric(PSETID_Appointment, 0x820D);
    const std::uint16_t keywords = map.String(PS_PUBLIC_STRINGS, "Keywords");
    EXPECT_EQ(start, 0x8000);
    EXPECT_EQ(keywords, 0x8001);
    EXPECT_EQ(map.Numeric(PSETID_Appointment, 0x820D), start);
    EXPECT_EQ(map.String(PS_PUBLIC_STRINGS, "Keywords"), keywords);
    EXPECT_EQ(map.Numeric(PSETID_Common, 0x820D), 0x8002);  // same LID, other set

    std::map<std::uint16_t, Bytes> props;
    for (const Property& p : map.Properties())
        props[p.id] = p.value;
    EXPECT_EQ(Get32(props.at(0x0001).data()), 251u);
    EXPECT_EQ(props.at(0x0002).size(), 32u);  // two GUIDs stored; public strings is implicit
    EXPECT_EQ(props.at(0x0003).size(), 24u);
    // "Keywords": CRC 0x2EDA4D3B, public strings (2) as a string: (hash ^ 5) % 251.
    const std::uint16_t bucket = static_cast<std::uint16_t>(0x1000 + (0x2EDA4D3Bu ^ 5u) % 251);
    ASSERT_TRUE(props.count(bucket));
    EXPECT_EQ(Get32(props.at(bucket).data()), 0x2EDA4D3Bu);
    EXPECT_EQ(Get16(props.at(bucket).data() + 6), 1);
    // Numeric: LID ^ (guid index 3 << 1) for the first stored GUID.
    EXPECT_TRUE(props.count(static_cast<std::uint16_t>(0x1000 + (0x820Du ^ 6u) % 251)));
}

TEST(AppendableTable, RowsAppendedOneByOneReadBackAndOnlyTheEndIsRewritten)
{
    Db store;
    const TableLayout layout = TableLayout::ForColumns(TableTemplates::Contents());
    AppendableTable table(layout);
    const std::uint32_t nid = MakeNid(0x1000, NID_TYPE_CONTENTS_TABLE);
    table.Store(store.db, nid);
    EXPECT_TRUE(LtpReader(store.db, nid).ReadTable().rows.empty());

    std::vector<TableRow> rows;
    std::size_t blocksWritten = 0;
    for (std::uint32_t i = 0; i < 3000; ++i) {
        TableRow row;
        row.rowId = MakeNid(0x10001 + i, NID_TYPE_NORMAL_MESSAGE);
        row.version = i + 1;
        row.cells[0x0037001F] = Utf16le("Appointment number " + std::to_string(i));
        row.cells[0x00170003] = Bytes{1, 0, 0, 0};
        if (i % 3 == 0)
            row.cells[0x0057000B] = Bytes{1};
        ASSERT_TRUE(table.Append(row));
        rows.push_back(row);
        const std::size_t before = store.memory.writes.size();
        table.Store(store.db, nid);
        if (i > 2000)
            blocksWritten = std::max(blocksWritten, store.memory.writes.size() - before);
    }
    // A row added to a big table rewrites a handful of blocks, not the table.
    EXPECT_LE(blocksWritten, 10u);
    // Row IDs must grow: an older one is refused, and nothing changes.
    TableRow older;
    older.rowId = rows.front().rowId;
    EXPECT_FALSE(table.Append(older));
    EXPECT_EQ(table.RowCount(), 3000u);

    const auto back = LtpReader(store.db, nid).ReadTable();
    ASSERT_EQ(back.rows.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(back.rows[i].rowId, rows[i].rowId);
        EXPECT_EQ(back.rows[i].cells, rows[i].cells) << "row " << i;
    }
}
