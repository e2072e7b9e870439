// SPDX-License-Identifier: MIT
#pragma once

#include "decimation.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <limits>
#include <utility>
#include <vector>

// A live chart of a SampleBuffer's series over their last seconds: grid, tick labels, and each
// curve drawn one pixel column at a time, as the span of values that the column's lines cover
// and the line that joins it to its neighbours. The chart owns its curves (which series each
// draws, its colour, whether it is shown) and its axes (the seconds shown; a fixed Y range, or
// one scaled to what is shown).
//
// refresh() takes in the lines that arrived since it was last called. The columns are fixed to
// the time axis, so the chart scrolls by whole columns, the scrolled pixels are kept, and only
// the columns those lines changed are computed, from the buffer's summaries, and painted: a
// frame costs what the new lines and the changed pixels cost, not what the window's lines do.
// Whatever changes the whole picture (its size, the seconds, the Y range, a curve shown or
// hidden) draws it whole, from the same columns, and to the same pixels.
class QPainter;

class PlotWidget : public QWidget
{
    Q_OBJECT

public:
    explicit PlotWidget(QWidget *parent = nullptr);

    // The distance between ticks for a span: 1, 2 or 5 times a power of ten, about a sixth of
    // it, so that tick labels are round numbers.
    static double tickStep(double span);
    // A distinct colour for each of the first few curves, then again from the start.
    static QColor colour(int index);

    // Where the curves' lines are read; the buffer must outlive the chart.
    void setBuffer(const pidtune::scope::SampleBuffer *buffer);
    // A curve of the buffer's series; returns its index, the number of curves before it.
    int addCurve(int series, const QColor &colour);
    // Later curves move down by one.
    void removeCurve(int curve);
    int curveCount() const { return int(curves.size()); }
    int curveSeries(int curve) const { return curves[size_t(curve)].series; }
    // A hidden curve is not drawn and leaves the Y axis' scale.
    void setCurveVisible(int curve, bool visible);
    bool isCurveVisible(int curve) const { return curves[size_t(curve)].visible; }

    // The X axis: the last `seconds` up to the newest line taken in.
    void setTimeSpan(double seconds);
    double timeSpan() const { return span; }
    // The Y axis fixed to a range, or scaled to what the shown curves show, rounded out to
    // whole ticks so that it holds still while the lines move within it.
    void setYRange(double low, double high);
    void setAutoscale();
    bool isAutoscaled() const { return autoscaled; }
    double xLow() const;
    double xHigh() const;
    double yLow() const { return bottom; }
    double yHigh() const { return top; }
    void setXTitle(const QString &title);

    // Where the curves are drawn, one column per pixel, in the widget's pixels; the frame lies
    // around it.
    QRect plotArea() const;
    // What the curve shows: the lowest and highest value of all its columns.
    pidtune::scope::MinMax shown(int curve) const;
    // Whether the view is drawn from summaries: its seconds reach beyond the lines the buffer
    // holds in full.
    bool isSummarised() const { return grid.summarised; }

    // Takes in the lines that arrived since the last call, and repaints what they change.
    void refresh();

    // Something that happened at a time, drawn over the curves as a line across the chart with
    // its label at the top (a parameter sent to the device). Labels go in three rows, by the
    // marker's place in the list, so that those of markers close together stay apart.
    struct Marker
    {
        double time = 0; // seconds, on the time axis
        QString label;
        QColor colour;
        Qt::PenStyle style = Qt::SolidLine;
    };
    void setMarkers(std::vector<Marker> markers);
    const std::vector<Marker> &markers() const { return marks; }
    // The pixel column of the widget a time is drawn in, or -1 outside the view.
    int xOfTime(double time) const;
    // The time at the middle of a pixel column, NaN outside the view: xOfTime() of it is x.
    double timeAtX(int x) const;

    // Two measuring cursors, A and B, at times on the axis (NaN: not placed). A click places A,
    // a right or Shift click B, and dragging a cursor's line moves it.
    enum Cursor { CursorA, CursorB };
    void setCursorTime(int which, double time);
    double cursorTime(int which) const { return cursorTimes[which & 1]; }

    // A view of [low, high) of its own instead of the last seconds up to the newest line: the
    // chart holds still there however many lines arrive, until followLive().
    void setView(double low, double high);
    void followLive();
    bool isFollowingLive() const { return !(viewHigh > viewLow); }
    // Whether the wheel zooms the time axis about the mouse and a drag off the cursors pans it
    // (while paused); turning it off returns the chart to the live view.
    void setZoomable(bool zoomable);
    // The stretch of time that keeps `at` at the same place on the axis, `factor` times closer.
    static std::pair<double, double> zoomedAbout(double low, double high, double at, double factor);

signals:
    void cursorsChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    struct Curve
    {
        int series = 0;
        QRgb colour = 0;
        bool visible = true;
        std::vector<pidtune::scope::MinMax> columns; // column k at k modulo their count
    };

    void rebuild();
    void computeColumns(qint64 from, qint64 to);
    bool needsSummaries(qint64 rightColumn) const;
    bool updateRange();
    const pidtune::scope::MinMax &column(const Curve &curve, int index) const;
    // The columns that must be painted again once `changed` is: those whose line reaches it.
    int firstAffected(int changed) const;
    QRect scrollArea() const;
    QRect labelArea() const;
    QRect columnsRect(int first, int last) const;
    void renderColumns(int first, int last);
    void paintMarkers(QPainter &painter) const;
    void paintCursors(QPainter &painter) const;
    double shownSpan() const { return isFollowingLive() ? span : viewHigh - viewLow; }

    const pidtune::scope::SampleBuffer *buffer = nullptr;
    std::vector<Curve> curves;
    QString xTitle;
    double span = 10;
    bool autoscaled = true;
    double fixedLow = -1, fixedHigh = 1;
    double bottom = -1, top = 1;

    // The view: columns [right - columnCount + 1, right] of the grid, from lines [0, grid.end).
    pidtune::scope::ColumnGrid grid;
    bool valid = false;
    int generation = -1;
    int columnCount = 0;
    int rowCount = 0;
    qint64 right = 0;
    quint64 historyStart = 0; // the buffer's, when last seen
    QImage canvas; // the columns being painted
    std::vector<Marker> marks;

    double cursorTimes[2]
        = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
    double viewLow = 0, viewHigh = 0; // a view of its own while high > low
    bool zoomable = false;
    // The mouse: where the button went down, the cursor being dragged (-1: none), whether the
    // drag pans, and the view it pans from.
    QPoint pressedAt;
    Qt::MouseButton pressedButton = Qt::NoButton;
    int dragged = -1;
    bool panning = false;
    double panLow = 0, panHigh = 0;
};
