// Heaps laid out as Outlook lays them out: the BTH header of a property context, or of a table's
// row index, is the heap's first item (HID 0x20), and a row matrix in a subnode puts row i in
// block i / rowsPerBlock, every block but the last padded to the full block size. Readers of the
// java-libpst family rely on both; the checks here read the raw heap and blocks, not our reader.
#include "PstTestSupport.h"
#include "tests/support/Shell.h"
#include "pst/ltp/AppendableTable.h"
#include "pst/ltp/LtpReader.h"
#include "pst/ltp/TableContext.h"
#include "pst/ndb/NodeDatabase.h"
#include "pst/store/MessageStore.h"

#include <gtest/gtest.h>

using namespace pst;
using namespace pst::test;

namespace {

struct Stored {
    MemoryFile memory;
    NodeDatabase db{memory.Layer()};
    std::uint32_t nid = 0;

    std::vector<Bytes> Heap() { return db.ReadBlocks(db.Node(nid)->bidData); }
    std::vector<Bytes> RowMatrix()
    {
        for (const SLENTRY& sub : db.ReadSubnodes(db.Node(nid)->bidSub))
            if (sub.nid == 0x3F)
                return db.ReadBlocks(sub.bidData);
        return {};
    }
};

// Heap item `hid` read straight from the page map (MS-PST 2.3.1.5).
Bytes Item(const std::vector<Bytes>& pages, std::uint32_t hid)
{
    const Bytes& b = pages.at(hid >> 16);
    const std::uint16_t ibHnpm = Get16(b.data());
    const std::size_t index = hid >> 5 & 0x7FF;
    const std::uint16_t start = Get16(b.data() + ibHnpm + 4 + 2 * (index - 1));
    const std::uint16_t end = Get16(b.data() + ibHnpm + 4 + 2 * index);
    return Bytes(b.begin() + start, b.begin() + end);
}

TableRow Row(std::uint32_t i)
{
    TableRow row;
    row.rowId = MakeNid(0x10001 + i, NID_TYPE_NORMAL_MESSAGE);
    row.version = i + 1;
    row.cells[0x0037001F] = Utf16le("Appointment " + std::to_string(i));
    row.cells[0x00170003] = Bytes{static_cast<std::uint8_t>(i), 0, 0, 0};
    return row;
}

const TableLayout& Layout()
{
    static const TableLayout layout = TableLayout::ForColumns({0x0037001F, 0x00170003, 0x30080040, 0x0E070003});
    return layout;
}

enum class Build { Whole, AppendedOneByOne, AppendedInBatches };

void StoreTable(Stored& s, Build how, std::uint32_t rows)
{
    s.nid = s.db.NewNid(NID_TYPE_CONTENTS_TABLE);
    if (how == Build::Whole) {
        std::vector<TableRow> all;
        for (std::uint32_t i = 0; i < rows; ++i)
            all.push_back(Row(i));
        StoreNode(s.db, s.nid, 0, BuildTableContext(Layout(), all));
        return;
    }
    AppendableTable table(Layout());
    for (std::uint32_t i = 0; i < rows; ++i) {
        ASSERT_TRUE(table.Append(Row(i)));
        if (how == Build::AppendedOneByOne || i % 97 == 96)
            table.Store(s.db, s.nid);
    }
    table.Store(s.db, s.nid);
}

}  // namespace

TEST(HeapLayout, PropertyContextHeaderIsTheFirstItem)
{
    for (std::size_t count : {1u, 12u, 90u, 500u}) {  // 500: more records than one leaf holds
        std::vector<Property> props;
        for (std::size_t i = 0; i < count; ++i)
            props.push_back(i % 2 ? StringProperty(static_cast<std::uint16_t>(0x3001 + i), "value " + std::to_string(i))
                                  : Int32Property(static_cast<std::uint16_t>(0x3001 + i), 7));
        Stored s;
        s.nid = s.db.NewNid(NID_TYPE_INTERNAL);
        StoreNode(s.db, s.nid, 0, BuildPropertyContext(props));
        const auto heap = s.Heap();
        EXPECT_EQ(Get32(heap[0].data() + 4), 0x20u) << count << " properties: hidUserRoot";
        const Bytes header = Item(heap, 0x20);
        ASSERT_EQ(header.size(), 8u);
        EXPECT_EQ(header[0], 0xB5);
        EXPECT_EQ(header[1], 2);
        EXPECT_EQ(header[2], 6);
        if (count <= 447) {
            EXPECT_EQ(Get32(header.data() + 4), 0x40u) << count << " properties: the one leaf follows the header";
        }
    }
}

TEST(HeapLayout, TableRowIndexHeaderFirstAndRowMatrixBlocksPadded)
{
    const std::size_t rowSize = Layout().rowSize();
    const std::size_t perBlock = NodeDatabase::kMaxBlockData / rowSize;
    ASSERT_NE(NodeDatabase::kMaxBlockData % rowSize, 0u) << "a layout whose rows fill a block tests nothing";
    for (Build how : {Build::Whole, Build::AppendedOneByOne, Build::AppendedInBatches}) {
        for (std::uint32_t rows : {0u, 3u, static_cast<std::uint32_t>(perBlock), static_cast<std::uint32_t>(perBlock + 1), 1000u}) {
            SCOPED_TRACE(testing::Message() << "build " << static_cast<int>(how) << ", " << rows << " rows");
            Stored s;
            StoreTable(s, how, rows);
            const auto heap = s.Heap();
            const Bytes header = Item(heap, 0x20);
            ASSERT_EQ(header.size(), 8u);
            EXPECT_EQ(header[0], 0xB5);
            EXPECT_EQ(header[1], 4);
            EXPECT_EQ(header[2], 4);
            const Bytes info = Item(heap, Get32(heap[0].data() + 4));
            ASSERT_EQ(info[0], 0x7C);
            EXPECT_EQ(Get32(info.data() + 10), 0x20u) << "hidRowIndex";
            if (rows * rowSize <= 3580)
                continue;  // the matrix is a heap item
            const auto blocks = s.RowMatrix();
            ASSERT_EQ(blocks.size(), (rows + perBlock - 1) / perBlock);
            for (std::size_t b = 0; b + 1 < blocks.size(); ++b)
                EXPECT_EQ(blocks[b].size(), NodeDatabase::kMaxBlockData) << "block " << b;
            EXPECT_EQ(blocks.back().size(), (rows - (blocks.size() - 1) * perBlock) * rowSize);
            // Row i where a reader computes it, found by its row ID.
            for (std::uint32_t i = 0; i < rows; ++i) {
                const Bytes& b = blocks[i / perBlock];
                ASSERT_EQ(Get32(b.data() + (i % perBlock) * rowSize), Row(i).rowId) << "row " << i;
            }
        }
    }
}

// Every heap page's fill level (MS-PST 2.3.1.5), as the page map of its block gives it, is the
// one page 0 (pages 0-7) or the bitmap page of its group of 128 carries, however the rows were
// stored: rows stored in batches fill the last pages of one group and open the next between two
// stores, which must not leave the first group's bitmap behind.
TEST(HeapLayout, FillLevelsMatchThePagesAcrossBitmapGroups)
{
    const TableLayout layout = TableLayout::ForColumns({0x0037001F});
    for (Build how : {Build::Whole, Build::AppendedOneByOne, Build::AppendedInBatches}) {
        SCOPED_TRACE(testing::Message() << "build " << static_cast<int>(how));
        Stored s;
        s.nid = s.db.NewNid(NID_TYPE_CONTENTS_TABLE);
        // Rows of about 1,000 bytes: eight to a page, past page 136 in 1,200 rows.
        auto row = [](std::uint32_t i) {
            TableRow r;
            r.rowId = MakeNid(0x10001 + i, NID_TYPE_NORMAL_MESSAGE);
            r.cells[0x0037001F] = Utf16le(std::string(480 + i % 40, static_cast<char>('a' + i % 26)));
            return r;
        };
        constexpr std::uint32_t kRows = 1200;
        if (how == Build::Whole) {
            std::vector<TableRow> all;
            for (std::uint32_t i = 0; i < kRows; ++i)
                all.push_back(row(i));
            StoreNode(s.db, s.nid, 0, BuildTableContext(layout, all));
        } else {
            AppendableTable table(layout);
            for (std::uint32_t i = 0; i < kRows; ++i) {
                ASSERT_TRUE(table.Append(row(i)));
                if (how == Build::AppendedOneByOne || i % 97 == 96)
                    table.Store(s.db, s.nid);
            }
            table.Store(s.db, s.nid);
        }
        const auto heap = s.Heap();
        ASSERT_GT(heap.size(), 137u);
        for (std::size_t page = 0; page < heap.size(); ++page) {
            const std::uint8_t level = HeapOnNode::FillLevel(NodeDatabase::kMaxBlockData - heap[page].size());
            const std::size_t group = page < 8 ? 0 : 8 + (page - 8) / 128 * 128;
            const std::uint8_t* levels = heap[group].data() + (group == 0 ? 8 : 2);
            const std::size_t at = page - group;
            EXPECT_EQ(levels[at / 2] >> (at % 2 ? 4 : 0) & 0x0F, level) << "page " << page;
        }
    }
}

#ifdef PSTCHECK
// pstcheck warns of both layouts Outlook does not write, so a regression shows without the
// java-libpst family's readers: a table stored as we write it gives no warning, the same table
// with its row-matrix blocks unpadded or its TCINFO first does.
TEST(HeapLayout, PstcheckWarnsOfWhatOutlookDoesNotWrite)
{
    std::vector<TableRow> rows;
    for (std::uint32_t i = 0; i < 1000; ++i)  // four blocks of rows
        rows.push_back(Row(i));
    const NodeImage outlook = BuildTableContext(Layout(), rows);

    NodeImage unpadded = outlook;  // whole rows to a block, but no padding after them
    for (auto& sub : unpadded.subnodes)
        for (Bytes& b : sub.blocks)
            b.resize(std::min(b.size(), NodeDatabase::kMaxBlockData / Layout().rowSize() * Layout().rowSize()));
    NodeImage infoFirst;  // TCINFO at HID 0x20, the row index's header after it
    {
        HeapOnNode heap(HeapOnNode::kTableContext);
        const std::uint32_t info = heap.Allocate(TableInfo(Layout(), 0x40, 0));
        heap.Allocate(Bytes{0xB5, 4, 4, 0, 0, 0, 0, 0});
        heap.SetUserRoot(info);
        infoFirst.blocks = heap.Blocks();
    }

    const struct {
        const char* name;
        const NodeImage* image;
        const char* warning;  // nullptr: none of the layout warnings
    } cases[] = {
        {"as written", &outlook, nullptr},
        {"row matrix unpadded", &unpadded, "not padded to 8176"},
        {"TCINFO first", &infoFirst, "BTH header is not the heap's first item"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.path + "/layout.pst";
        {
            auto store = MessageStore::Create(path, "Layout");
            // A contents table of a folder that is not there: pstcheck still reads it as a table.
            StoreNode(store->Database(), store->Database().NewNid(NID_TYPE_CONTENTS_TABLE), 0, *c.image);
            store->Commit();
            store->Close();
        }
        std::string out;
        RunCommand(testshell::PstcheckCommand(PSTCHECK, path), &out);
        for (const char* text : {"not padded to 8176", "BTH header is not the heap's first item"}) {
            const bool expected = c.warning && std::string(text) == c.warning;
            EXPECT_EQ(out.find(text) != std::string::npos, expected) << c.name << ": " << out;
        }
    }
}
#endif

// A contents table past what one index level holds (223 leaves of 447 rows) takes a second level;
// every row is found again through it.
TEST(HeapLayout, RowsPastOneIndexLevelReadBack)
{
    constexpr std::uint32_t kRows = 223 * 447 + 1000;
    Stored s;
    s.nid = s.db.NewNid(NID_TYPE_CONTENTS_TABLE);
    AppendableTable table(Layout());
    for (std::uint32_t i = 0; i < kRows; ++i) {
        ASSERT_TRUE(table.Append(Row(i))) << i;
        if (i % 20000 == 19999)
            table.Store(s.db, s.nid);
    }
    table.Store(s.db, s.nid);
    const auto heap = s.Heap();
    const Bytes header = Item(heap, 0x20);
    EXPECT_EQ(header[3], 2) << "index levels";
    const auto back = LtpReader(s.db, s.nid).ReadTable();
    ASSERT_EQ(back.rows.size(), kRows);
    for (std::uint32_t i = 0; i < kRows; i += 997)
        ASSERT_EQ(back.rows[i].rowId, Row(i).rowId) << i;
}
