#include "app/QtUserPrompts.h"
#include "app/frmStep1.h"
#include "filelist/StandardDescriptors.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    OpenStandardDescriptors();
    QApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry, and so to the entry's icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.varnel.CalendarImporter"));
    QtUserPrompts prompts;
    frmStep1 window(prompts);
    prompts.setOwner(&window);
    window.ShowCentred();
    return app.exec();
}
