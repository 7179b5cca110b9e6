// Imports every file of a folder with the window and closes the window, the way the product ends,
// right after the N-th file was saved. Prints "saved K" as each file is done; "run finished"
// must never appear, and the exit status must be 0.
//   import_then_close SOURCE-FOLDER DESTINATION-FOLDER N
#include "ScriptedPrompts.h"
#include "app/frmStep1.h"
#include "filelist/FlexGrid.h"

#include <QApplication>
#include <QProgressBar>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 4)
        return 2;
    const int closeAfter = QString::fromLocal8Bit(argv[3]).toInt();
    ScriptedPrompts prompts;
    prompts.folderResults = {QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2])};
    frmStep1 window(prompts);
    window.show();

    int saved = 0;
    QObject::connect(window.ProgressBar1, &QProgressBar::valueChanged, &window, [&] {
        std::printf("saved %d\n", ++saved);
        std::fflush(stdout);
        if (saved == closeAfter)
            window.close();
    });
    QTimer::singleShot(0, &window, [&] {
        window.CmdAddFolder_Click();
        window.CmdExtractDBX_Click();
        std::printf("run finished\n");
        std::fflush(stdout);
        QCoreApplication::exit(3);
    });
    return app.exec();
}
