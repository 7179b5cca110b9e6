#include "SourceFileList.h"

#include "FlexGrid.h"
#include "QtText.h"
#include "UserPrompts.h"

#include <QLabel>

SourceFileList::SourceFileList(FlexGrid& grid, QLabel& countLabel)
    : m_grid(grid)
    , m_count(countLabel)
{
}

bool SourceFileList::firstCellEmpty()
{
    m_grid.setRow(0);
    m_grid.setCol(0);
    return m_grid.Text().isEmpty();
}

void SourceFileList::AddFileToList(const QString& path)
{
    bool rowZeroFree = false;
    if (m_grid.Rows() == 1 && firstCellEmpty()) {
        m_grid.setRows(1);
        m_grid.setCols(1);
        m_grid.setRow(0);
        m_grid.setColWidth(0, kListColWidthTwips);
        m_grid.setCol(0);
        rowZeroFree = true;
    }
    if (!rowZeroFree)
        m_grid.setRows(m_grid.Rows() + 1);

    m_grid.setRow(m_grid.Rows() - 1);
    m_grid.setCol(0);
    m_grid.setText(path);
    m_count.setText(QString::number(m_grid.Rows()) + QString::fromUtf16(texts::kFilesCountSuffix));
}

void SourceFileList::ClearFileList()
{
    m_grid.setRows(1);
    m_grid.Clear();
    m_count.setText(QString::fromUtf16(texts::kNoFilesCount));
}
