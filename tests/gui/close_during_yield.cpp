// Starts the window with the product's own way of ending, runs an operation that yields to the
// event loop between its steps, and closes the window during one of those yields. Prints each
// step; "operation finished" must never appear, and the exit status must be 0.
#include "app/QtUserPrompts.h"
#include "app/frmStep1.h"

#include <QApplication>
#include <QThread>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QtUserPrompts prompts;
    frmStep1 window(prompts);
    prompts.setOwner(&window);
    window.show();

    QTimer::singleShot(0, &window, [&] {
        QTimer::singleShot(100, &window, [&] { window.close(); });
        for (int step = 0; step < 400; ++step) {
            std::printf("step %d\n", step);
            std::fflush(stdout);
            QThread::msleep(5);
            QCoreApplication::processEvents();
        }
        std::printf("operation finished\n");
        std::fflush(stdout);
        QCoreApplication::exit(3);
    });
    return app.exec();
}
