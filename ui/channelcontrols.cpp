// SPDX-License-Identifier: MIT
// The channels' slots. Each hands its own channel to the panel, so the six rows cannot drift
// apart.
#include "app/mainwindow.h"
#include "ui/channelpanel.h"

void MainWindow::on_data_1_Min_TextEdit_textChanged()
{
    channels->applyRange(1);
}

void MainWindow::on_data_1_Max_TextEdit_textChanged()
{
    channels->applyRange(1);
}

void MainWindow::on_data_1_value_Qslider_sliderReleased()
{
    channels->release(1);
}

void MainWindow::on_data_2_Min_TextEdit_textChanged()
{
    channels->applyRange(2);
}

void MainWindow::on_data_2_Max_TextEdit_textChanged()
{
    channels->applyRange(2);
}

void MainWindow::on_data_2_value_Qslider_sliderReleased()
{
    channels->release(2);
}

void MainWindow::on_data_3_Min_TextEdit_textChanged()
{
    channels->applyRange(3);
}

void MainWindow::on_data_3_value_Qslider_sliderReleased()
{
    channels->release(3);
}

void MainWindow::on_data_3_Max_TextEdit_textChanged()
{
    channels->applyRange(3);
}

void MainWindow::on_data_4_Min_TextEdit_textChanged()
{
    channels->applyRange(4);
}

void MainWindow::on_data_5_Min_TextEdit_textChanged()
{
    channels->applyRange(5);
}

void MainWindow::on_data_6_Min_TextEdit_textChanged()
{
    channels->applyRange(6);
}

void MainWindow::on_data_4_value_Qslider_sliderReleased()
{
    channels->release(4);
}

void MainWindow::on_data_5_value_Qslider_sliderReleased()
{
    channels->release(5);
}

void MainWindow::on_data_6_value_Qslider_sliderReleased()
{
    channels->release(6);
}

void MainWindow::on_data_5_Max_TextEdit_textChanged()
{
    channels->applyRange(5);
}

void MainWindow::on_data_4_Max_TextEdit_textChanged()
{
    channels->applyRange(4);
}

void MainWindow::on_data_6_Max_TextEdit_textChanged()
{
    channels->applyRange(6);
}
