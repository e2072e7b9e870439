// SPDX-License-Identifier: MIT
#include "mainwindow.h"
#include "serial/stopsignals.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    int stoppedBy = 0;
    int result = 0;
    {
        MainWindow window;
        // A stop signal closes the window as the operator would, so the port is released and
        // the terminal and its lock file are left as they were found.
        pidtune::StopSignals stopSignals;
        QObject::connect(&stopSignals, &pidtune::StopSignals::stopRequested, &window,
                         &QWidget::close);
        window.show();
        result = app.exec();
        stoppedBy = stopSignals.received();
    }
    pidtune::StopSignals::endAs(stoppedBy);
    return result;
}
