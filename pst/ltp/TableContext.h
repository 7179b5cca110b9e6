#pragma once

#include "PropertyContext.h"

#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

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

// A callable passed down without being copied or allocated: a reference to the caller's own.
template <typename Signature>
class FunctionRef;
template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
public:
    template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
    FunctionRef(F&& f)  // NOLINT: converts implicitly, as a function parameter
        : m_object(const_cast<void*>(static_cast<const void*>(std::addressof(f))))
        , m_call([](void* object, Args... args) -> R {
            return (*static_cast<std::remove_reference_t<F>*>(object))(std::forward<Args>(args)...);
        })
    {
    }
    R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }

private:
    void* m_object;
    R (*m_call)(void*, Args...);
};

// A row's cell by column tag: its bytes (and their count in `size`), or null when the row has
// no value in that column.
using CellLookup = FunctionRef<const std::uint8_t*(std::uint32_t tag, std::size_t* size)>;
// Stores a variable-size cell's value: returns the HNID to put in the row, or nothing to leave
// the cell out.
using StoreVariable = FunctionRef<std::optional<std::uint32_t>(const std::uint8_t* value, std::size_t size)>;

// One row's bytes into `out` (layout.rowSize() bytes, zeroed): fixed cells inline, the row's ID
// and version in their columns, and the existence bitmap. Each non-empty variable cell goes to
// `storeVariable`.
void EncodeRow(const TableLayout& layout, std::uint32_t rowId, std::uint32_t version, CellLookup cell,
               StoreVariable storeVariable, std::uint8_t* out);

// TCINFO (MS-PST 2.3.4.1) of a table with these columns, its column descriptors sorted by tag.
Bytes TableInfo(const TableLayout& layout, std::uint32_t hidRowIndex, std::uint32_t hnidRows);
// A row matrix cut into the blocks of its subnode: whole rows, every block but the last padded.
std::vector<Bytes> RowMatrixBlocks(const Bytes& matrix, std::uint16_t rowSize);

// A table context (MS-PST 2.3.4) with the given columns and rows, in row order.
NodeImage BuildTableContext(const TableLayout& layout, const std::vector<TableRow>& rows);

}  // namespace pst
