#pragma once

#include <QTableWidget>
#include <vector>

// A one-table grid with the members the file list works with: a row and column count, a current
// cell (Row, Col) whose Text is read and written, Clear, and column widths in twips. It has no
// header row or column; every cell is drawn in the grid's cell colour, the area beyond the last
// row in white.
class FlexGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit FlexGrid(QWidget* parent = nullptr);

    int Rows() const { return rowCount(); }
    void setRows(int rows);
    int Cols() const { return columnCount(); }
    void setCols(int cols);

    // The current cell. It always lies inside the grid: shrinking the grid pulls it back in.
    int Row() const { return m_row; }
    void setRow(int row);
    int Col() const { return m_col; }
    void setCol(int col);

    // Text of the current cell.
    QString Text() const;
    void setText(const QString& text);

    // Empties every cell; the row and column counts stay.
    void Clear();

    // Column width in twips, kept exactly as set (the pixel width is the twips divided by 15).
    int ColWidth(int col) const;
    void setColWidth(int col, int twips);

    static const QColor kCellColour;       // pale yellow
    static const QColor kSelectionColour;  // navy
    static const QColor kGridLineColour;   // light grey

private:
    void applyCurrentCell();

    int m_row = 0;
    int m_col = 0;
    std::vector<int> m_colWidthTwips;
};
