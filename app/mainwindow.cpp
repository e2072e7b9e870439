// SPDX-License-Identifier: MIT
#include "mainwindow.h"

#include "serial/seriallink.h"
#include "ui/channelvalues.h"
#include "ui/mainwindowform.h"
#include "ui/startupsettings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new MainWindowForm)
{
    ui->setupUi(this);

    // The panel is laid out by absolute geometry, so it must keep the form's size.
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    setFixedSize(width(), height());

    // Settings.ini is looked up in the working directory, which is often not the program's own:
    // these two lines tell the operator where the file is expected.
    qDebug() << "current applicationDirPath: " << QCoreApplication::applicationDirPath();
    qDebug() << "current currentPath: " << QDir::currentPath();

    fillPortSelector();
    watchChannelInput();

    const pidtune::StartupSettingsReport settings = pidtune::loadStartupSettings(*ui);
    if (settings.unreadable) {
        qWarning() << "Settings.ini cannot be read:"
                   << QDir::current().filePath(QStringLiteral("Settings.ini"));
        showFailure(tr("无法读取 Settings.ini，通道未预填"));
    } else if (!settings.tooLong.isEmpty()) {
        qWarning() << "Settings.ini: values longer than" << pidtune::kMaxFieldLength
                   << "characters left out:" << settings.tooLong.join(QStringLiteral(", "));
        showFailure(tr("Settings.ini 中 %1 的值过长（超过 %2 个字符），未填入")
                        .arg(settings.tooLong.join(QStringLiteral("、")))
                        .arg(pidtune::kMaxFieldLength));
    }
}

MainWindow::~MainWindow()
{
    if (serialPort) {
        pidtune::releaseLine(*serialPort, this);
        delete serialPort;
    }
    delete ui;
}
