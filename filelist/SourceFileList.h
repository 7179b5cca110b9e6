#pragma once

// The list of calendar files to import, for both windows: its rules live here, its rows in the
// window's grid (Qt's FlexGrid, or the list view of the Windows window), reached through FileGrid.
// No toolkit here.
#include "import/Text.h"

// The grid as the list uses it: a row and column count, a current cell whose text is read and
// written, Clear (every cell emptied, the counts kept), column widths in twips, and the count
// label beside it.
class FileGrid {
public:
    virtual ~FileGrid() = default;
    virtual int Rows() = 0;
    virtual void setRows(int rows) = 0;
    virtual void setCols(int cols) = 0;
    virtual void setRow(int row) = 0;
    virtual void setCol(int col) = 0;
    virtual Text CellText() = 0;
    virtual void setCellText(const Text& text) = 0;
    virtual void Clear() = 0;
    virtual void setColWidth(int col, int twips) = 0;
    virtual void setCountCaption(const Text& caption) = 0;
};

// One path a row from row 0, in the order appended. An empty list is a single row whose cell is
// empty, and emptiness is always judged by that cell's text, never by a counter. The count label
// shows the row count + " files".
class SourceFileList {
public:
    explicit SourceFileList(FileGrid& grid)
        : m_grid(grid)
    {
    }

    // Appends one path; the current cell ends on the new row.
    void AddFileToList(const Text& path);

    // Back to the empty list: one empty row, "0 files".
    void ClearFileList();

    // Width given to the column when the first path goes into an empty list, in twips.
    static constexpr int kListColWidthTwips = 10000;

private:
    // Moves the current cell to row 0, column 0 and tells whether its text is empty.
    bool firstCellEmpty();

    FileGrid& m_grid;
};
