// SPDX-License-Identifier: MIT
#include "mainwindow.h"

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
    pidtune::loadStartupSettings(*ui);
}

MainWindow::~MainWindow()
{
    if (serialPort) {
        serialPort->disconnect(this);
        delete serialPort; // closes the device
    }
    delete ui;
}
