// SPDX-License-Identifier: MIT
// The channels' slots. Each hands its own channel to the shared code, so the six rows cannot
// drift apart.
#include "app/mainwindow.h"
#include "ui/channelvalues.h"
#include "ui/channelwidgets.h"
#include "ui/mainwindowform.h"

namespace {

void applyMinimum(const QTextEdit *field, QSlider *slider)
{
    slider->setMinimum(pidtune::boundFromText(field->toPlainText()));
}

void applyMaximum(const QTextEdit *field, QSlider *slider)
{
    slider->setMaximum(pidtune::boundFromText(field->toPlainText()));
}

} // namespace

void MainWindow::releaseChannel(int channel)
{
    const pidtune::ChannelWidgets row = pidtune::channelWidgets(*ui, channel);
    if (!row.enable->isChecked() || row.identifier->toPlainText().isEmpty())
        return;

    row.value->setText(pidtune::valueText(row.slider->value()));

    const std::optional<int> identifier = pidtune::frameIdentifier(row.identifier->toPlainText());
    if (!identifier) {
        showFailure(tr("标识符无效（应为 0-255 的整数），参数未发送"));
        return;
    }
    // The label's text read back, so the device gets exactly the number the operator sees.
    sendFrame(*identifier, pidtune::valueFromText(row.value->text()));
}

void MainWindow::on_data_1_Min_TextEdit_textChanged()
{
    applyMinimum(ui->data_1_Min_TextEdit, ui->data_1_value_Qslider);
}

void MainWindow::on_data_1_Max_TextEdit_textChanged()
{
    applyMaximum(ui->data_1_Max_TextEdit, ui->data_1_value_Qslider);
}

void MainWindow::on_data_1_value_Qslider_sliderReleased()
{
    releaseChannel(1);
}

void MainWindow::on_data_2_Min_TextEdit_textChanged()
{
    applyMinimum(ui->data_2_Min_TextEdit, ui->data_2_value_Qslider);
}

void MainWindow::on_data_2_Max_TextEdit_textChanged()
{
    applyMaximum(ui->data_2_Max_TextEdit, ui->data_2_value_Qslider);
}

void MainWindow::on_data_2_value_Qslider_sliderReleased()
{
    releaseChannel(2);
}

void MainWindow::on_data_3_Min_TextEdit_textChanged()
{
    applyMinimum(ui->data_3_Min_TextEdit, ui->data_3_value_Qslider);
}

void MainWindow::on_data_3_value_Qslider_sliderReleased()
{
    releaseChannel(3);
}

void MainWindow::on_data_3_Max_TextEdit_textChanged()
{
    applyMaximum(ui->data_3_Max_TextEdit, ui->data_3_value_Qslider);
}

void MainWindow::on_data_4_Min_TextEdit_textChanged()
{
    applyMinimum(ui->data_4_Min_TextEdit, ui->data_4_value_Qslider);
}

void MainWindow::on_data_5_Min_TextEdit_textChanged()
{
    applyMinimum(ui->data_5_Min_TextEdit, ui->data_5_value_Qslider);
}

void MainWindow::on_data_6_Min_TextEdit_textChanged()
{
    applyMinimum(ui->data_6_Min_TextEdit, ui->data_6_value_Qslider);
}

void MainWindow::on_data_4_value_Qslider_sliderReleased()
{
    releaseChannel(4);
}

void MainWindow::on_data_5_value_Qslider_sliderReleased()
{
    releaseChannel(5);
}

void MainWindow::on_data_6_value_Qslider_sliderReleased()
{
    releaseChannel(6);
}

void MainWindow::on_data_5_Max_TextEdit_textChanged()
{
    applyMaximum(ui->data_5_Max_TextEdit, ui->data_5_value_Qslider);
}

void MainWindow::on_data_4_Max_TextEdit_textChanged()
{
    applyMaximum(ui->data_4_Max_TextEdit, ui->data_4_value_Qslider);
}

void MainWindow::on_data_6_Max_TextEdit_textChanged()
{
    applyMaximum(ui->data_6_Max_TextEdit, ui->data_6_value_Qslider);
}
