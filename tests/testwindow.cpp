// SPDX-License-Identifier: MIT
#include "testwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
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
    const auto name = [n](const char *pattern) {
        return QString::fromLatin1(pattern).arg(n);
    };
    return {widget<QTextEdit>(window, name("data_%1_Type_Flag_TextEdit")),
            widget<QTextEdit>(window, name("data_%1_Min_TextEdit")),
            widget<QTextEdit>(window, name("data_%1_Max_TextEdit")),
            widget<QSlider>(window, name("data_%1_value_Qslider")),
            widget<QLabel>(window, name("data_%1_value_QLabel")),
            widget<QCheckBox>(window, name("data_%1_enable_CheckBox"))};
}

void type(QTextEdit *field, const QString &text)
{
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    for (const QChar key : text) {
        if (key == QLatin1Char('\n'))
            QTest::keyClick(field, Qt::Key_Return);
        else
            QTest::keyClicks(field, key);
    }
}

void tick(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
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
    const QPoint handle = handleCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, handle);
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, handle);
}

void dragToEnd(QSlider *slider, bool toMaximum)
{
    const QPoint handle = handleCentre(slider);
    const QPoint end(toMaximum ? slider->width() + 50 : -50, handle.y());
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, handle);
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
    type(row.identifier, identifier);
    type(row.min, min);
    type(row.max, max);
    if (!row.enable->isChecked())
        tick(row.enable);
}

} // namespace testwindow
