// SPDX-License-Identifier: MIT
// The channels' slots. Each hands its own channel to the shared code, so the six rows cannot
// drift apart.
#include "app/mainwindow.h"
#include "ui/channelvalues.h"
#include "ui/channelwidgets.h"
#include "ui/mainwindowform.h"

#include <QEvent>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>

namespace {

// A slider whose range is a single position ignores presses, so the operator would see nothing
// happen and not know why; this tells the window about such presses.
class EmptyRangePresses : public QObject
{
public:
    EmptyRangePresses(QObject *parent, std::function<void(int channel)> pressed)
        : QObject(parent), pressed(std::move(pressed))
    { }

    void watch(QSlider *slider, int channel)
    {
        slider->setProperty(kChannelProperty, channel);
        slider->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress) {
            const auto *slider = static_cast<QSlider *>(watched);
            if (slider->minimum() == slider->maximum())
                pressed(slider->property(kChannelProperty).toInt());
        }
        return false;
    }

private:
    static constexpr const char *kChannelProperty = "pidtuneChannel";
    std::function<void(int)> pressed;
};

} // namespace

void MainWindow::applyRange(int channel)
{
    // Both ends from both boxes on every edit: setting only the edited end would keep a pull
    // that an intermediate text (the "1" while typing "15") made on the other end.
    const pidtune::ChannelWidgets row = pidtune::channelWidgets(*ui, channel);
    row.slider->setMinimum(pidtune::boundFromText(row.min->toPlainText()));
    row.slider->setMaximum(pidtune::boundFromText(row.max->toPlainText()));
}

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

void MainWindow::watchChannelInput()
{
    auto *presses = new EmptyRangePresses(this, [this](int channel) {
        showFailure(tr("通道 %1 的 Min 不小于 Max，滑块无法拖动，参数未发送").arg(channel));
    });
    for (int channel = 1; channel <= pidtune::kChannelCount; ++channel) {
        const pidtune::ChannelWidgets row = pidtune::channelWidgets(*ui, channel);
        presses->watch(row.slider, channel);
        for (QTextEdit *field : {row.identifier, row.min, row.max})
            connect(field, &QTextEdit::textChanged, this, [this, field] { keepFieldShort(field); });
    }
}

void MainWindow::keepFieldShort(QTextEdit *field)
{
    // Without this a pasted page of digits would be kept, laid out and parsed on every key.
    QTextDocument *document = field->document();
    if (document->characterCount() - 1 <= pidtune::kMaxFieldLength)
        return;
    QTextCursor cursor(document);
    cursor.setPosition(pidtune::kMaxFieldLength);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    showFailure(tr("输入过长：每个框最多 %1 个字符，多余部分已删去").arg(pidtune::kMaxFieldLength));
}

void MainWindow::on_data_1_Min_TextEdit_textChanged()
{
    applyRange(1);
}

void MainWindow::on_data_1_Max_TextEdit_textChanged()
{
    applyRange(1);
}

void MainWindow::on_data_1_value_Qslider_sliderReleased()
{
    releaseChannel(1);
}

void MainWindow::on_data_2_Min_TextEdit_textChanged()
{
    applyRange(2);
}

void MainWindow::on_data_2_Max_TextEdit_textChanged()
{
    applyRange(2);
}

void MainWindow::on_data_2_value_Qslider_sliderReleased()
{
    releaseChannel(2);
}

void MainWindow::on_data_3_Min_TextEdit_textChanged()
{
    applyRange(3);
}

void MainWindow::on_data_3_value_Qslider_sliderReleased()
{
    releaseChannel(3);
}

void MainWindow::on_data_3_Max_TextEdit_textChanged()
{
    applyRange(3);
}

void MainWindow::on_data_4_Min_TextEdit_textChanged()
{
    applyRange(4);
}

void MainWindow::on_data_5_Min_TextEdit_textChanged()
{
    applyRange(5);
}

void MainWindow::on_data_6_Min_TextEdit_textChanged()
{
    applyRange(6);
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
    applyRange(5);
}

void MainWindow::on_data_4_Max_TextEdit_textChanged()
{
    applyRange(4);
}

void MainWindow::on_data_6_Max_TextEdit_textChanged()
{
    applyRange(6);
}
