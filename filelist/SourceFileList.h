#pragma once

#include <QString>

class FlexGrid;
class QLabel;

// The list of calendar files to import. Its only store is the grid: one path a row from row 0, in
// the order appended. An empty list is a single row whose cell is empty, and emptiness is always
// judged by that cell's text, never by a counter. The count label shows the row count + " files".
class SourceFileList {
public:
    SourceFileList(FlexGrid& grid, QLabel& countLabel);

    // Appends one path; the current cell ends on the new row.
    void AddFileToList(const QString& path);

    // Back to the empty list: one empty row, "0 files".
    void ClearFileList();

    // Width given to the column when the first path goes into an empty list, in twips.
    static constexpr int kListColWidthTwips = 10000;

private:
    // Moves the current cell to row 0, column 0 and tells whether its text is empty.
    bool firstCellEmpty();

    FlexGrid& m_grid;
    QLabel& m_count;
};
