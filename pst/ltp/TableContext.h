#pragma once

#include "PropertyContext.h"

#include <functional>
#include <map>
#include <optional>

namespace pst {

// Columns every table starts with: the row's ID (the NID it describes) and its version.
inline constexpr std::uint32_t kTagLtpRowId = 0x67F20003;
inline constexpr std::uint32_t kTagLtpRowVer = 0x67F30003;

// TCOLDESC (MS-PST 2.3.4.2): where a column's cell sits in a row.
struct TCOLDESC {
    std::uint32_t tag = 0;
    std::uint16_t ibData = 0;
    std::uint8_t cbData = 0;
    std::uint8_t iBit = 0;
};

// The columns of a table and the row layout they give (MS-PST 2.3.4.4): 8- and 4-byte cells in
// column order, then 2-byte, then 1-byte cells, then the cell-existence bitmap.
struct TableLayout {
    std::vector<TCOLDESC> columns;  // in column (iBit) order
    std::uint16_t rgib[4] = {};     // ends of the 8/4-byte, 2-byte and 1-byte groups; the row size
    std::uint16_t rowSize() const { return rgib[3]; }

    // `tags` in column order; the row ID and version columns are put first when missing.
    static TableLayout ForColumns(std::vector<std::uint32_t> tags);
};

// One row: its ID and the cells that have a value, by column tag.
struct TableRow {
    std::uint32_t rowId = 0;
    std::uint32_t version = 0;
    std::map<std::uint32_t, Bytes> cells;
};

// One row's bytes: fixed cells inline, the row's ID and version in their columns, and the
// existence bitmap. Each non-empty variable cell goes to `storeVariable`, which returns the HNID
// to put in the row, or nothing to leave the cell out.
Bytes EncodeRow(const TableLayout& layout, const TableRow& row,
                const std::function<std::optional<std::uint32_t>(const Bytes&)>& storeVariable);

// TCINFO (MS-PST 2.3.4.1) of a table with these columns, its column descriptors sorted by tag.
Bytes TableInfo(const TableLayout& layout, std::uint32_t hidRowIndex, std::uint32_t hnidRows);
// A row matrix cut into the blocks of its subnode: whole rows, every block but the last padded.
std::vector<Bytes> RowMatrixBlocks(const Bytes& matrix, std::uint16_t rowSize);

// A table context (MS-PST 2.3.4) with the given columns and rows, in row order.
NodeImage BuildTableContext(const TableLayout& layout, const std::vector<TableRow>& rows);

}  // namespace pst
