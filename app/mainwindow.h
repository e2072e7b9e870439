// SPDX-License-Identifier: MIT
#pragma once

#include <QMainWindow>
#include <QSerialPort>

class MainWindowForm;
class QTextEdit;

namespace pidtune {
class FrameOutbox;
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
    // Channel controls (ui/channelcontrols.cpp).
    void applyRange(int channel);
    void releaseChannel(int channel);
    void watchChannelInput();
    void keepFieldShort(QTextEdit *field);

    // The serial connection (serial/serialconnection.cpp).
    void fillPortSelector();
    void openPort();
    void closePort();
    void handlePortError(QSerialPort *port, QSerialPort::SerialPortError error);
    int releasePort();
    void sendFrame(int identifier, float value);
    void showSendState(const pidtune::FrameOutbox &outbox);

    void showFailure(const QString &message);

    MainWindowForm *ui;
    QSerialPort *serialPort = nullptr; // owned by this window while not null
};
