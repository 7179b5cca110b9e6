#pragma once

#include "ScriptedPrompts.h"
#include "app/frmStep1.h"
#include "filelist/FlexGrid.h"

#include <QTableWidgetItem>

#include <memory>

// A shown main window whose prompts are scripted and whose closing ends nothing.
struct WindowFixture {
    std::unique_ptr<ScriptedPrompts> prompts;
    std::unique_ptr<frmStep1> window;

    frmStep1& open()
    {
        prompts = std::make_unique<ScriptedPrompts>();
        window = std::make_unique<frmStep1>(*prompts, [] {});
        window->show();
        return *window;
    }

    void close()
    {
        window.reset();
        prompts.reset();
    }

    // The text of every row of the grid, row 0 first.
    static QStringList rows(FlexGrid& grid)
    {
        QStringList texts;
        for (int r = 0; r < grid.Rows(); ++r)
            texts << (grid.item(r, 0) ? grid.item(r, 0)->text() : QString());
        return texts;
    }
};
