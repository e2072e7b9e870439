// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QPointF>
#include <QString>
#include <QVector>
#include <QWidget>

#include <vector>

// A chart of lines over a time axis, drawn with QPainter: grid, tick labels, and each curve as
// a 1-pixel polyline that a NaN point interrupts.
class PlotWidget : public QWidget
{
    Q_OBJECT

public:
    struct Curve
    {
        QVector<QPointF> points; // in the axes' units
        QColor colour;
        bool visible = true;
    };

    explicit PlotWidget(QWidget *parent = nullptr);

    // The distance between ticks for a span: 1, 2 or 5 times a power of ten, about a sixth of
    // it, so that tick labels are round numbers.
    static double tickStep(double span);
    // A distinct colour for each of the first few curves, then again from the start.
    static QColor colour(int index);

    std::vector<Curve> curves;
    void setRanges(double xLow, double xHigh, double yLow, double yHigh);
    double yLow() const { return bottom; }
    double yHigh() const { return top; }
    void setXTitle(const QString &title) { xTitle = title; }
    // Where the curves are drawn, in the widget's pixels.
    QRect plotArea() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double left = 0, right = 1, bottom = 0, top = 1;
    QString xTitle;
};
