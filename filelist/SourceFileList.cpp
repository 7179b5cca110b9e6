#include "SourceFileList.h"

#include "import/WindowTexts.h"

bool SourceFileList::firstCellEmpty()
{
    m_grid.setRow(0);
    m_grid.setCol(0);
    return m_grid.CellText().empty();
}

void SourceFileList::AddFileToList(const Text& path)
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
    m_grid.setCellText(path);
    m_grid.setCountCaption(Number(m_grid.Rows()) + texts::kFilesCountSuffix);
}

void SourceFileList::ClearFileList()
{
    m_grid.setRows(1);
    m_grid.Clear();
    m_grid.setCountCaption(texts::kNoFilesCount);
}
