// SPDX-License-Identifier: MIT
#pragma once

#include "serial/portconnection.h"

#include <QMainWindow>
#include <QSerialPort>

#include <memory>

class MainWindowForm;

namespace pidtune {
class ChannelPanel;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The open connection, or null while the window is Closed.
    QSerialPort *connection() const { return serialPort; }

private slots:
    // The declaration order is the method index order that callers of the meta-object rely on,
    // and the on_<object>_<signal> names are how the form connects them: keep both as they are.
    void on_openButton_clicked();
    void Read_Data();
    void on_data_1_Min_TextEdit_textChanged();
    void on_data_1_Max_TextEdit_textChanged();
    void on_data_1_value_Qslider_sliderReleased();
    void on_data_2_Min_TextEdit_textChanged();
    void on_data_2_Max_TextEdit_textChanged();
    void on_data_2_value_Qslider_sliderReleased();
    void on_data_3_Min_TextEdit_textChanged();
    void on_data_3_value_Qslider_sliderReleased();
    void on_data_3_Max_TextEdit_textChanged();
    void on_data_4_Min_TextEdit_textChanged();
    void on_data_5_Min_TextEdit_textChanged();
    void on_data_6_Min_TextEdit_textChanged();
    void on_data_4_value_Qslider_sliderReleased();
    void on_data_5_value_Qslider_sliderReleased();
    void on_data_6_value_Qslider_sliderReleased();
    void on_data_5_Max_TextEdit_textChanged();
    void on_data_4_Max_TextEdit_textChanged();
    void on_data_6_Max_TextEdit_textChanged();

private:
    MainWindowForm *ui;
    QSerialPort *serialPort = nullptr; // owned by this window while not null
    // The behaviour behind the slots; the slots hand each action to one of them.
    pidtune::PortConnection serial {serialPort};
    std::unique_ptr<pidtune::ChannelPanel> channels;
};
