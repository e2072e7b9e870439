// SPDX-License-Identifier: MIT
#include "plotwidget.h"

#include <QPainter>
#include <QPolygonF>

#include <cmath>

PlotWidget::PlotWidget(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent); // every pixel is painted: nothing behind to draw
}

double PlotWidget::tickStep(double span)
{
    const double raw = span / 6;
    const double power = std::pow(10, std::floor(std::log10(raw)));
    const double mantissa = raw / power;
    return power * (mantissa <= 1 ? 1 : mantissa <= 2 ? 2 : mantissa <= 5 ? 5 : 10);
}

QColor PlotWidget::colour(int index)
{
    static const QColor colours[]
        = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
           QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
           QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};
    return colours[index % int(std::size(colours))];
}

void PlotWidget::setRanges(double xLow, double xHigh, double yLow, double yHigh)
{
    left = xLow;
    right = xHigh;
    bottom = yLow;
    top = yHigh;
}

QRect PlotWidget::plotArea() const
{
    const int text = fontMetrics().height();
    return rect().adjusted(text * 4, text / 2, -text, -text * 3);
}

void PlotWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const QRect area = plotArea();
    if (!(right > left) || !(top > bottom) || area.width() < 2 || area.height() < 2)
        return;
    const double xScale = area.width() / (right - left);
    const double yScale = area.height() / (top - bottom);
    const auto x = [&](double value) {
        return area.left() + (value - left) * xScale;
    };
    const auto y = [&](double value) {
        return area.bottom() - (value - bottom) * yScale;
    };

    // Grid and tick labels, at whole multiples of the step.
    const QFontMetrics metrics = fontMetrics();
    const auto label = [](double value, double step) {
        return QString::number(std::abs(value) < step / 2 ? 0 : value, 'g', 6);
    };
    const double xStep = tickStep(right - left);
    for (double tick = std::ceil(left / xStep); tick * xStep <= right; ++tick) {
        const int at = int(std::lround(x(tick * xStep)));
        painter.setPen(QColor(0xe0, 0xe0, 0xe0));
        painter.drawLine(at, area.top(), at, area.bottom());
        painter.setPen(Qt::black);
        const QString text = label(tick * xStep, xStep);
        painter.drawText(at - metrics.horizontalAdvance(text) / 2, area.bottom() + metrics.height(),
                         text);
    }
    const double yStep = tickStep(top - bottom);
    for (double tick = std::ceil(bottom / yStep); tick * yStep <= top + yStep * 1e-9; ++tick) {
        const int at = int(std::lround(y(tick * yStep)));
        painter.setPen(QColor(0xe0, 0xe0, 0xe0));
        painter.drawLine(area.left(), at, area.right(), at);
        painter.setPen(Qt::black);
        const QString text = label(tick * yStep, yStep);
        painter.drawText(area.left() - metrics.horizontalAdvance(text) - metrics.height() / 3,
                         at + metrics.ascent() / 2, text);
    }
    painter.drawRect(area);
    painter.drawText(QRect(area.left(), area.bottom() + metrics.height() + 2, area.width(),
                           metrics.height() * 2),
                     Qt::AlignHCenter | Qt::AlignTop, xTitle);

    painter.setClipRect(area);
    QPolygonF line;
    for (const Curve &curve : curves) {
        if (!curve.visible)
            continue;
        painter.setPen(QPen(curve.colour, 1));
        line.clear();
        for (const QPointF &point : curve.points) {
            if (std::isnan(point.y())) {
                painter.drawPolyline(line);
                line.clear();
            } else {
                line.append(QPointF(x(point.x()), y(point.y())));
            }
        }
        painter.drawPolyline(line);
    }
}
