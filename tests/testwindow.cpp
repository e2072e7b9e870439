// SPDX-License-Identifier: MIT
#include "testwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTextEdit>

namespace testwindow {

pidtune::ChannelWidgets channel(const QWidget &window, int n)
{
    const auto name = [n](const char *role) {
        return QStringLiteral("data_%1_%2").arg(n).arg(role);
    };
    return {widget<QTextEdit>(window, name("Type_Flag_TextEdit")),
            widget<QTextEdit>(window, name("Min_TextEdit")),
            widget<QTextEdit>(window, name("Max_TextEdit")),
            widget<QSlider>(window, name("value_Qslider")),
            widget<QLabel>(window, name("value_QLabel")),
            widget<QCheckBox>(window, name("enable_CheckBox"))};
}

QPoint handleCentre(const QSlider *slider)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    return slider->style()
        ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
        .center();
}

void pressAndRelease(QSlider *slider)
{
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, handleCentre(slider));
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, handleCentre(slider));
}

void dragToEnd(QSlider *slider, bool toMaximum)
{
    const QPoint end(toMaximum ? slider->width() + 50 : -50, handleCentre(slider).y());
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, handleCentre(slider));
    QMouseEvent move(QEvent::MouseMove, QPointF(end), QPointF(slider->mapToGlobal(end)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(slider, &move);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, end);
}

void openPort(QWidget &window, const QString &path)
{
    auto *selector = widget<QComboBox>(window, QStringLiteral("Port_Number_comboBox"));
    if (selector->findText(path) < 0)
        selector->addItem(path);
    selector->setCurrentIndex(selector->findText(path));
    pressOpenButton(window);
}

void pressOpenButton(QWidget &window)
{
    QTest::mouseClick(widget<QPushButton>(window, QStringLiteral("openButton")), Qt::LeftButton);
}

QString buttonCaption(const QWidget &window)
{
    return widget<QPushButton>(window, QStringLiteral("openButton"))->text();
}

QString status(const QWidget &window)
{
    return widget<QStatusBar>(window, QStringLiteral("statusBar"))->currentMessage();
}

void setUpChannel(const QWidget &window, int n, const QString &identifier, const QString &min,
                  const QString &max)
{
    const pidtune::ChannelWidgets row = channel(window, n);
    row.identifier->setPlainText(identifier);
    row.min->setPlainText(min);
    row.max->setPlainText(max);
    row.enable->setChecked(true);
}

} // namespace testwindow
