// SPDX-License-Identifier: MIT
#include "mainwindow.h"

#include "ui/channelpanel.h"
#include "ui/mainwindowform.h"
#include "ui/startupsettings.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QStatusBar>
#include <QStyle>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new MainWindowForm)
{
    ui->setupUi(this);
    channels = std::make_unique<pidtune::ChannelPanel>(*ui);

    // The panel is laid out by absolute geometry, so it must keep the form's size.
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    setFixedSize(width(), height());

    // Settings.ini is looked up in the working directory, which is often not the program's own:
    // these two lines tell the operator where the file is expected.
    qDebug() << "current applicationDirPath: " << QCoreApplication::applicationDirPath();
    qDebug() << "current currentPath: " << QDir::currentPath();

    QComboBox *const ports = ui->Port_Number_comboBox;
    ports->addItems(pidtune::availablePortNames());
    // The closed box keeps the form's width; its list is as wide as the longest name in it, with
    // room for a scroll bar and the item's margins.
    const QFontMetrics metrics = ports->view()->fontMetrics();
    int widest = 0;
    for (int i = 0; i < ports->count(); ++i)
        widest = qMax(widest, metrics.horizontalAdvance(ports->itemText(i)));
    ports->view()->setMinimumWidth(widest + 2 * metrics.averageCharWidth()
                                   + ports->style()->pixelMetric(QStyle::PM_ScrollBarExtent));

    // What the slots set in motion reaches the operator and the device from here.
    QStatusBar *const bar = statusBar();
    connect(channels.get(), &pidtune::ChannelPanel::failed, bar,
            [bar](const QString &text) { bar->showMessage(text); });
    connect(channels.get(), &pidtune::ChannelPanel::released, &serial,
            &pidtune::PortConnection::send);
    connect(&serial, &pidtune::PortConnection::status, bar, &QStatusBar::showMessage);
    connect(&serial, &pidtune::PortConnection::dataArrived, this, &MainWindow::Read_Data);
    connect(&serial, &pidtune::PortConnection::openChanged, this,
            [this](bool open) { ui->openButton->setText(open ? tr("关闭串口") : tr("打开串口")); });

    // Logging off or shutting the system down ends the process right after Qt says the
    // application is about to quit, without returning from the event loop: the port is let go
    // of there, as closing the window would.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &serial,
            &pidtune::PortConnection::close);

    const QString settingsProblem = pidtune::loadStartupSettings(*ui);
    if (!settingsProblem.isEmpty())
        bar->showMessage(settingsProblem);
}

MainWindow::~MainWindow()
{
    delete ui;
}
