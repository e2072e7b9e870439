// SPDX-License-Identifier: MIT
#include "applicationicon.h"
#include "commandline.h"
#include "mainwindow.h"
#include "serial/stopsignals.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // --help, --version and refused arguments are answered here, without a display.
    if (const std::optional<int> status = pidtune::handleCommandLine(argc, argv))
        return *status;
    // No widget here draws with OpenGL. Without this, Qt 5 on X11 loads the GL driver stack to
    // show the window, some 40 ms and 50 MiB.
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("pidtune"));
    QApplication::setWindowIcon(pidtune::applicationIcon());
    int stoppedBy = 0;
    int result = 0;
    {
        // A stop signal closes the window as the operator would, so the port is released and
        // the terminal and its lock file are left as they were found. Caught from before the
        // window exists; the event loop delivers them once it runs.
        pidtune::StopSignals stopSignals;
        MainWindow window;
        QObject::connect(&stopSignals, &pidtune::StopSignals::stopRequested, &window,
                         &QWidget::close);
        window.show();
        result = app.exec();
        stoppedBy = stopSignals.received();
    }
    pidtune::StopSignals::endAs(stoppedBy);
    return result;
}
