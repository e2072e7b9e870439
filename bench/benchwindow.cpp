// SPDX-License-Identifier: MIT
// pidtune-bench-window: the windows that pidtune's first frame on X is compared with, each a
// process of its own as pidtune is, with the same libraries and application set-up.
//   bare           an empty QMainWindow of the window's size
//   form           the window's form, captions and widgets, but no port listing
//   bare-defaults  the empty window with none of pidtune's set-up (Qt's defaults)
#include "app/applicationicon.h"
#include "ui/mainwindowform.h"
#include "ui/startupsettings.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[])
{
    const QByteArray kind = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (kind != "bare" && kind != "form" && kind != "bare-defaults")
        return 2;
    const bool asPidtune = kind != "bare-defaults";
    if (asPidtune)
        QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    QApplication app(argc, argv);
    if (asPidtune) {
        QGuiApplication::setDesktopFileName(QStringLiteral("pidtune"));
        QApplication::setWindowIcon(pidtune::applicationIcon());
    }

    QMainWindow window;
    MainWindowForm form;
    if (kind == "form") {
        form.setupUi(&window);
        pidtune::loadStartupSettings(form);
        window.setWindowFlags(window.windowFlags() & ~Qt::WindowMaximizeButtonHint);
    }
    window.setFixedSize(877, 393);
    window.show();
    return app.exec();
}
