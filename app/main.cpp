// SPDX-License-Identifier: MIT
#include "commandline.h"
#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // --help, --version and refused arguments are answered here, without a display.
    if (const std::optional<int> status = pidtune::handleCommandLine(argc, argv))
        return *status;
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    return app.exec();
}
