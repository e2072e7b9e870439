// SPDX-License-Identifier: MIT
#pragma once

class MainWindowForm;
class QCheckBox;
class QLabel;
class QSlider;
class QTextEdit;

namespace pidtune {

constexpr int kChannelCount = 6;

// The widgets of one row of the panel. A channel keeps all of its state in them.
struct ChannelWidgets
{
    QTextEdit *identifier;
    QTextEdit *min;
    QTextEdit *max;
    QSlider *slider;
    QLabel *value;
    QCheckBox *enable;
};

// Channel 1 to kChannelCount of the form.
ChannelWidgets channelWidgets(const MainWindowForm &form, int channel);

} // namespace pidtune
