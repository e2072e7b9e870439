// SPDX-License-Identifier: MIT
// The window's serial slots. The connection itself (serial/portconnection) knows no window.
#include "app/mainwindow.h"
#include "ui/mainwindowform.h"

void MainWindow::on_openButton_clicked()
{
    // The caption is the connection's state.
    if (ui->openButton->text() == tr("打开串口"))
        serial.open(ui->Port_Number_comboBox->currentText());
    else
        serial.close();
}

void MainWindow::Read_Data()
{
    serial.drain();
}
