// SPDX-License-Identifier: MIT
#pragma once

#include "ui/channelwidgets.h"

#include <QObject>
#include <QString>

#include <array>

class MainWindowForm;

namespace pidtune {

// The six channel rows of the form and what the operator does with them: the Min and Max boxes
// set the slider's range, a release shows the value and asks for it to be sent. The rows keep
// all of their state in their widgets; this only reacts to them and reports through signals.
class ChannelPanel : public QObject
{
    Q_OBJECT

public:
    explicit ChannelPanel(const MainWindowForm &form, QObject *parent = nullptr);

    // Channel 1 to kChannelCount.
    void applyRange(int channel);
    void release(int channel);

signals:
    // A release the device should get: the identifier and the value shown in the label.
    void released(int identifier, float value);
    // Why the operator's action had no effect, or was changed (a paste cut short).
    void failed(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Why a release of this channel must not send: a Min or Max box holds text but no number,
    // or the two are further apart than a slider can hold. Empty when it may.
    QString refusal(int channel) const;
    void keepFieldShort(QTextEdit *field);

    std::array<ChannelWidgets, kChannelCount> rows;
};

} // namespace pidtune
