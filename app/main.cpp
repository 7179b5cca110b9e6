#include "app/QtUserPrompts.h"
#include "app/frmStep1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QtUserPrompts prompts;
    frmStep1 window(prompts);
    prompts.setOwner(&window);
    window.ShowCentred();
    return app.exec();
}
