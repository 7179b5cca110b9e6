// A contents table that grows by rows between stores lets go of what it wrote: after each Store
// it holds no heap item and no row in memory, whatever its size, and the blocks it reads back to
// change the open page, a bitmap page or the last row-matrix block make the same table as one
// stored only once at the end. (It used to keep every page that was being filled at a store,
// and the row matrix's buffer, for good: some 25 KB for every folder of an import.)
#include "PstTestSupport.h"
#include "pst/ltp/AppendableTable.h"
#include "pst/ltp/LtpReader.h"
#include "pst/ndb/NodeDatabase.h"

#include <gtest/gtest.h>

using namespace pst;
using namespace pst::test;

namespace {

const TableLayout& Layout()
{
    static const TableLayout layout = TableLayout::ForColumns({0x0037001F, 0x00170003, 0x00710102, 0x0057000B});
    return layout;
}

TableRow Row(std::uint32_t i, std::size_t textSize)
{
    TableRow row;
    row.rowId = MakeNid(0x10001 + i, NID_TYPE_NORMAL_MESSAGE);
    row.version = i + 1;
    row.cells[0x0037001F] = Utf16le(std::string(textSize + i % 13, static_cast<char>('a' + i % 26)));
    row.cells[0x00170003] = Bytes{static_cast<std::uint8_t>(i), 0, 0, 0};
    if (i % 3)
        row.cells[0x00710102] = Bytes(i % 40, static_cast<std::uint8_t>(i));
    if (i % 5 == 0)
        row.cells[0x0057000B] = Bytes{1};
    return row;
}

struct Built {
    MemoryFile memory;
    NodeDatabase db{memory.Layer()};
    std::uint32_t nid = db.NewNid(NID_TYPE_CONTENTS_TABLE);

    std::vector<Bytes> Heap() { return db.ReadBlocks(db.Node(nid)->bidData); }
    std::vector<Bytes> RowMatrix()
    {
        for (const SLENTRY& sub : db.ReadSubnodes(db.Node(nid)->bidSub))
            if (sub.nid == 0x3F)
                return db.ReadBlocks(sub.bidData);
        return {};
    }
};

}  // namespace

TEST(AppendableTableMemory, StoredTableHoldsNothingAndReadsBackWhatItChanges)
{
    const struct {
        const char* name;
        std::uint32_t rows;
        std::size_t textSize;  // characters of each row's subject: rows to a heap page
    } shapes[] = {
        {"small rows, some 30 heap pages and nine row-matrix blocks", 3000, 10},
        {"rows of about 1 KB, heap pages past the second bitmap group", 1200, 480},
    };
    for (const auto& shape : shapes) {
        // The reference: every row appended, then one store.
        Built once;
        {
            AppendableTable table(Layout());
            for (std::uint32_t i = 0; i < shape.rows; ++i)
                ASSERT_TRUE(table.Append(Row(i, shape.textSize)));
            table.Store(once.db, once.nid);
            EXPECT_EQ(table.HeldBytes(), 0u) << shape.name;
        }
        for (std::uint32_t every : {1u, 7u, 97u, 1000u}) {
            SCOPED_TRACE(testing::Message() << shape.name << ", a store every " << every << " rows");
            Built b;
            AppendableTable table(Layout());
            for (std::uint32_t i = 0; i < shape.rows; ++i) {
                ASSERT_TRUE(table.Append(Row(i, shape.textSize)));
                if (i % every == every - 1) {
                    table.Store(b.db, b.nid);
                    ASSERT_EQ(table.HeldBytes(), 0u) << "after row " << i;
                    if (i % (3 * every) == 0)
                        b.db.Commit();  // blocks then come from the block B-tree as well
                }
            }
            table.Store(b.db, b.nid);
            EXPECT_EQ(table.HeldBytes(), 0u);
            EXPECT_EQ(b.Heap(), once.Heap());
            EXPECT_EQ(b.RowMatrix(), once.RowMatrix());
            const auto back = LtpReader(b.db, b.nid).ReadTable();
            ASSERT_EQ(back.rows.size(), shape.rows);
            for (std::uint32_t i = 0; i < shape.rows; i += 37)
                EXPECT_EQ(back.rows[i].cells.at(0x0037001F), Row(i, shape.textSize).cells.at(0x0037001F)) << "row " << i;
        }
    }
}
