#include "FlexGrid.h"

#include "Twips.h"

#include <QHeaderView>
#include <QProxyStyle>
#include <QStyledItemDelegate>

#include <algorithm>

const QColor FlexGrid::kCellColour(255, 255, 191);
const QColor FlexGrid::kSelectionColour(0, 0, 128);
const QColor FlexGrid::kGridLineColour(192, 192, 192);

namespace {

// Paints every cell, with or without an item behind it, in the cell colour; the viewport itself
// stays white so that the area below the last row reads as empty.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->backgroundBrush = FlexGrid::kCellColour;
    }
};

// Grid lines in their own colour, whatever the platform style would pick.
class GridLineStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_Table_GridLineColor)
            return static_cast<int>(FlexGrid::kGridLineColour.rgba());
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// A classic grid row is 240 twips high.
constexpr int kRowHeightTwips = 240;
// Default width of a new column, in twips.
constexpr int kDefaultColWidthTwips = 960;

}  // namespace

FlexGrid::FlexGrid(QWidget* parent)
    : QTableWidget(1, 1, parent)
    , m_colWidthTwips(1, kDefaultColWidthTwips)
{
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(TwipsToPixels(kRowHeightTwips));
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setColumnWidth(0, TwipsToPixels(kDefaultColWidthTwips));

    setItemDelegate(new CellDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    // Tab leaves the grid instead of walking its cells.
    setTabKeyNavigation(false);

    QPalette pal = palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Base, Qt::white);
        pal.setColor(group, QPalette::Highlight, kSelectionColour);
    }
    setPalette(pal);
    auto* lines = new GridLineStyle;
    lines->setParent(this);
    setStyle(lines);

    // Keep Row and Col in step when the user clicks or moves with the keys.
    connect(this, &QTableWidget::currentCellChanged, this, [this](int row, int col) {
        if (row >= 0 && col >= 0) {
            m_row = row;
            m_col = col;
        }
    });
    applyCurrentCell();
}

void FlexGrid::setRows(int rows)
{
    setRowCount(std::max(rows, 0));
    applyCurrentCell();
}

void FlexGrid::setCols(int cols)
{
    cols = std::max(cols, 0);
    const int old = columnCount();
    setColumnCount(cols);
    m_colWidthTwips.resize(static_cast<size_t>(cols), kDefaultColWidthTwips);
    for (int c = old; c < cols; ++c)
        setColumnWidth(c, TwipsToPixels(kDefaultColWidthTwips));
    applyCurrentCell();
}

void FlexGrid::setRow(int row)
{
    m_row = row;
    applyCurrentCell();
}

void FlexGrid::setCol(int col)
{
    m_col = col;
    applyCurrentCell();
}

void FlexGrid::applyCurrentCell()
{
    m_row = std::clamp(m_row, 0, std::max(rowCount() - 1, 0));
    m_col = std::clamp(m_col, 0, std::max(columnCount() - 1, 0));
    // Moving the current cell collapses any selection onto it, unselected: as in a classic grid,
    // the selection colours show only on a range the user selects.
    if (rowCount() > 0 && columnCount() > 0)
        setCurrentCell(m_row, m_col, QItemSelectionModel::Clear);
}

QString FlexGrid::Text() const
{
    const QTableWidgetItem* cell = item(m_row, m_col);
    return cell ? cell->text() : QString();
}

void FlexGrid::setText(const QString& text)
{
    if (rowCount() == 0 || columnCount() == 0)
        return;
    QTableWidgetItem* cell = item(m_row, m_col);
    if (cell) {
        cell->setText(text);
    } else {
        cell = new QTableWidgetItem(text);
        cell->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        setItem(m_row, m_col, cell);
    }
}

void FlexGrid::Clear()
{
    clearContents();
    applyCurrentCell();
}

int FlexGrid::ColWidth(int col) const
{
    if (col < 0 || static_cast<size_t>(col) >= m_colWidthTwips.size())
        return 0;
    return m_colWidthTwips[static_cast<size_t>(col)];
}

void FlexGrid::setColWidth(int col, int twips)
{
    if (col < 0 || static_cast<size_t>(col) >= m_colWidthTwips.size())
        return;
    twips = std::max(twips, 0);
    m_colWidthTwips[static_cast<size_t>(col)] = twips;
    setColumnWidth(col, TwipsToPixels(twips));
}
