// SPDX-License-Identifier: MIT
#pragma once

#include "ui/channelwidgets.h"

#include <QString>
#include <QWidget>

class QSlider;

// Drives the window the way an operator does: through object names and real input events.
namespace testwindow {

template<typename T> T *widget(const QWidget &window, const QString &objectName)
{
    T *found = window.findChild<T *>(objectName);
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), qPrintable(objectName));
    return found;
}

pidtune::ChannelWidgets channel(const QWidget &window, int channel);
// Where the slider's handle is drawn now.
QPoint handleCentre(const QSlider *slider);
// Presses the slider's handle and releases it where it is.
void pressAndRelease(QSlider *slider);
// Presses the handle, drags it past one end of the groove and releases it there.
void dragToEnd(QSlider *slider, bool toMaximum);

// Puts the path into the port selector and presses the open button.
void openPort(QWidget &window, const QString &path);
void pressOpenButton(QWidget &window);
QString buttonCaption(const QWidget &window);
QString status(const QWidget &window);

// Fills a channel's identifier, Min and Max, as a paste into each would, and ticks its box.
void setUpChannel(const QWidget &window, int channel, const QString &identifier, const QString &min,
                  const QString &max);

} // namespace testwindow
