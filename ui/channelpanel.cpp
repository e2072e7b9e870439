// SPDX-License-Identifier: MIT
#include "channelpanel.h"

#include "ui/channelvalues.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QSlider>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <limits>
#include <tuple>

namespace pidtune {

ChannelPanel::ChannelPanel(const MainWindowForm &form, QObject *parent) : QObject(parent)
{
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        const ChannelWidgets &row = rows[channel - 1] = channelWidgets(form, channel);
        // A slider whose range is a single position ignores presses; the operator is told why.
        row.slider->installEventFilter(this);
        for (QTextEdit *field : {row.identifier, row.min, row.max})
            connect(field, &QTextEdit::textChanged, this, [this, field] { keepFieldShort(field); });
    }
}

void ChannelPanel::applyRange(int channel)
{
    // Both ends from both boxes on every edit: setting only the edited end would keep a pull
    // that an intermediate text (the "1" while typing "15") made on the other end.
    const ChannelWidgets &row = rows[channel - 1];
    // A box that cannot be read holds the slider at 0 there until it can; releases are refused.
    const int minimum = boundFromText(row.min->toPlainText()).value_or(0);
    const int maximum = boundFromText(row.max->toPlainText()).value_or(0);
    if (!sliderSpanFits(minimum, maximum)) {
        row.slider->setRange(0, 0);
        return;
    }
    row.slider->setMinimum(minimum);
    row.slider->setMaximum(maximum);
}

void ChannelPanel::release(int channel)
{
    const ChannelWidgets &row = rows[channel - 1];
    if (!row.enable->isChecked() || row.identifier->toPlainText().isEmpty())
        return;
    // The slider stands in for an unreadable box at 0, and is pinned at 0 for a range it cannot
    // hold: its value would be one the operator never chose.
    if (const QString refused = refusal(channel); !refused.isEmpty()) {
        emit failed(refused);
        return;
    }

    row.value->setText(valueText(row.slider->value()));

    const std::optional<int> identifier = frameIdentifier(row.identifier->toPlainText());
    if (!identifier) {
        emit failed(tr("标识符无效（应为 0-255 的整数），参数未发送"));
        return;
    }
    // The label's text read back, so the device gets exactly the number the operator sees.
    emit released(*identifier, valueFromText(row.value->text()));
}

bool ChannelPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        for (int channel = 1; channel <= kChannelCount; ++channel) {
            const QSlider *slider = rows[channel - 1].slider;
            if (slider != watched || slider->minimum() != slider->maximum())
                continue;
            // An unreadable box or a range too wide also pins the slider; say which.
            const QString refused = refusal(channel);
            emit failed(
                !refused.isEmpty()
                    ? refused
                    : tr("通道 %1 的 Min 不小于 Max，滑块无法拖动，参数未发送").arg(channel));
        }
    }
    return false;
}

QString ChannelPanel::refusal(int channel) const
{
    const ChannelWidgets &row = rows[channel - 1];
    std::optional<int> bounds[2];
    for (const auto &[box, name, bound] :
         {std::tuple {row.min, "Min", &bounds[0]}, {row.max, "Max", &bounds[1]}}) {
        *bound = boundFromText(box->toPlainText());
        if (!*bound)
            return tr("通道 %1 的 %2 不是有效的数字，参数未发送")
                .arg(channel)
                .arg(QLatin1String(name));
    }
    if (!sliderSpanFits(*bounds[0], *bounds[1]))
        return tr("通道 %1 的 Min 与 Max 相差超过 %2，滑块无法拖动，参数未发送")
            .arg(channel)
            .arg(valueText(std::numeric_limits<int>::max()).trimmed());
    return QString();
}

void ChannelPanel::keepFieldShort(QTextEdit *field)
{
    // Without this a pasted page of digits would be kept, laid out and parsed on every key.
    QTextDocument *document = field->document();
    if (document->characterCount() - 1 <= kMaxFieldLength)
        return;
    QTextCursor cursor(document);
    cursor.setPosition(kMaxFieldLength);
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    emit failed(tr("输入过长：每个框最多 %1 个字符，多余部分已删去").arg(kMaxFieldLength));
}

} // namespace pidtune
