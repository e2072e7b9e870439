// SPDX-License-Identifier: MIT
#include "plotwidget.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

using pidtune::scope::MinMax;
using pidtune::scope::SampleBuffer;

namespace {

constexpr QRgb kBackground = 0xffffffff;
constexpr QRgb kGrid = 0xffe0e0e0;
constexpr int kBandRows = 64;

// Two neighbouring columns that hold lines are joined by a line unless a gap lies between.
bool joined(const MinMax &from, const MinMax &to)
{
    return from.hasValues() && !(from.flags & MinMax::GapAfter) && to.hasValues()
        && !(to.flags & MinMax::GapBefore);
}

// Where the mouse is in the widget: position() where the event has it, localPos() before.
template<typename Event> auto positionOf(const Event *event, int) -> decltype(event->position())
{
    return event->position();
}
template<typename Event> QPointF positionOf(const Event *event, long)
{
    return event->localPos();
}

// How far the mouse moves before a press is a drag rather than a click.
constexpr int kDragPixels = 3;

QString tickLabel(double value, double step)
{
    return QString::number(std::abs(value) < step / 2 ? 0 : value, 'g', 6);
}

} // namespace

PlotWidget::PlotWidget(QWidget *parent) : QWidget(parent)
{
    // Every pixel is painted: nothing behind to draw, and the scrolled pixels can be kept.
    setAttribute(Qt::WA_OpaquePaintEvent);
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

void PlotWidget::setBuffer(const SampleBuffer *lines)
{
    buffer = lines;
    rebuild();
}

int PlotWidget::addCurve(int series, const QColor &colour)
{
    Curve curve;
    curve.series = series;
    curve.colour = colour.rgb();
    curves.push_back(std::move(curve));
    rebuild();
    return curveCount() - 1;
}

void PlotWidget::removeCurve(int curve)
{
    curves.erase(curves.begin() + curve);
    rebuild();
}

void PlotWidget::setCurveVisible(int curve, bool visible)
{
    if (curves[size_t(curve)].visible == visible)
        return;
    curves[size_t(curve)].visible = visible;
    updateRange();
    update();
}

void PlotWidget::setTimeSpan(double seconds)
{
    if (seconds == span || !(seconds > 0))
        return;
    span = seconds;
    rebuild();
}

void PlotWidget::setYRange(double low, double high)
{
    autoscaled = false;
    fixedLow = low;
    fixedHigh = high;
    updateRange();
    update();
}

void PlotWidget::setAutoscale()
{
    autoscaled = true;
    updateRange();
    update();
}

double PlotWidget::xLow() const
{
    return valid ? grid.start(right - columnCount + 1) : 0;
}

double PlotWidget::xHigh() const
{
    return valid ? grid.start(right + 1) : span;
}

void PlotWidget::setXTitle(const QString &title)
{
    xTitle = title;
    update();
}

QRect PlotWidget::plotArea() const
{
    const int text = fontMetrics().height();
    return rect().adjusted(text * 4, text / 2, -text, -text * 3);
}

MinMax PlotWidget::shown(int curve) const
{
    MinMax all;
    for (int index = 0; valid && index < columnCount; ++index)
        all = pidtune::scope::join(all, column(curves[size_t(curve)], index));
    return all;
}

const MinMax &PlotWidget::column(const Curve &curve, int index) const
{
    const qint64 k = right - columnCount + 1 + index;
    return curve.columns[size_t(((k % columnCount) + columnCount) % columnCount)];
}

bool PlotWidget::needsSummaries(qint64 rightColumn) const
{
    // Summaries as soon as a line in the view is no longer held in full.
    return buffer->oldestLine() > 0
        && !(buffer->timeOf(buffer->oldestLine()) < grid.start(rightColumn - columnCount + 1));
}

void PlotWidget::rebuild()
{
    valid = false;
    const QRect area = plotArea();
    columnCount = std::max(0, area.width());
    rowCount = std::max(0, area.height());
    for (Curve &curve : curves)
        curve.columns.assign(size_t(columnCount), MinMax());
    if (canvas.size() != area.size() && columnCount > 0 && rowCount > 0)
        canvas = QImage(columnCount, rowCount, QImage::Format_RGB32);
    if (buffer && columnCount > 0 && rowCount > 0) {
        // The lines taken in so far, if the buffer still holds them; a paused view stays.
        quint64 end = grid.end;
        if (buffer->generation() != generation || end > buffer->appended() || end == 0
            || end - 1 < buffer->oldestLine())
            end = buffer->appended();
        generation = buffer->generation();
        if (end > 0) {
            grid.end = end;
            grid.summarised = false;
            if (isFollowingLive()) {
                grid.origin = buffer->origin();
                grid.width = span / columnCount;
                right = grid.columnOf(buffer->timeOf(end - 1));
            } else {
                grid.origin = viewLow;
                grid.width = (viewHigh - viewLow) / columnCount;
                right = columnCount - 1;
            }
            grid.summarised = needsSummaries(right);
            historyStart = buffer->historyStart();
            computeColumns(right - columnCount + 1, right);
            valid = true;
        }
    }
    updateRange();
    update();
}

void PlotWidget::computeColumns(qint64 from, qint64 to)
{
    if (from > to)
        return;
    const int count = int(to - from + 1);
    const std::vector<quint64> bounds = pidtune::scope::columnBounds(*buffer, grid, from, count);
    std::vector<MinMax> computed(static_cast<size_t>(count));
    for (Curve &curve : curves) {
        pidtune::scope::summariseColumns(*buffer, curve.series, bounds, computed.data());
        for (int i = 0; i < count; ++i)
            curve.columns[size_t((((from + i) % columnCount) + columnCount) % columnCount)]
                = computed[size_t(i)];
    }
}

bool PlotWidget::updateRange()
{
    double low = fixedLow, high = fixedHigh;
    if (autoscaled) {
        low = std::numeric_limits<double>::infinity();
        high = -low;
        for (const Curve &curve : curves) {
            if (!curve.visible)
                continue;
            for (int index = 0; valid && index < columnCount; ++index) {
                const MinMax &values = column(curve, index);
                if (values.hasValues()) {
                    low = std::min(low, values.low);
                    high = std::max(high, values.high);
                }
            }
        }
        if (low > high) {
            low = -1;
            high = 1;
        }
        if (high - low < 1e-9 * std::max(1.0, std::abs(high))) {
            // One unit either side; around a large value one unit is below its precision, and
            // a range of nothing has no ticks: a thousandth of it, which six digits still show.
            const double margin = std::max(1.0, std::abs(high) * 1e-3);
            low -= margin;
            high += margin;
        }
        const double step = tickStep(high - low);
        low = std::floor(low / step) * step;
        high = std::ceil(high / step) * step;
    }
    if (low == bottom && high == top)
        return false;
    bottom = low;
    top = high;
    return true;
}

void PlotWidget::refresh()
{
    // A view of its own holds still; it was drawn whole from the lines it shows.
    if (!buffer || !isFollowingLive())
        return;
    if (!valid || buffer->generation() != generation) {
        grid.end = buffer->appended();
        rebuild();
        return;
    }
    const quint64 was = grid.end;
    if (buffer->appended() == was)
        return;
    // Lines that the view took in as they came, and which are no longer where it found them,
    // would be drawn again from scratch.
    if (was < (grid.summarised ? buffer->historyStart() : buffer->oldestLine())) {
        grid.end = buffer->appended();
        rebuild();
        return;
    }
    grid.end = buffer->appended();
    const qint64 newRight = grid.columnOf(buffer->timeOf(grid.end - 1));
    if (newRight < right || newRight - right >= columnCount
        || needsSummaries(newRight) != grid.summarised) {
        rebuild();
        return;
    }
    // The column of the first new line: the earlier ones' lines are as they were. One more,
    // should a line's time fall on a column's edge.
    qint64 changed = grid.columnOfLine(*buffer, was) - 1;
    const int scrolled = int(newRight - right);
    // Each curve's leftmost column with lines, before the view scrolls.
    std::vector<int> leftmost(curves.size(), columnCount);
    for (size_t index = 0; scrolled > 0 && index < curves.size(); ++index) {
        int first = 0;
        while (first < columnCount && column(curves[index], first).isEmpty())
            ++first;
        leftmost[index] = first;
    }
    for (qint64 k = right + 1; k <= newRight; ++k) {
        for (Curve &curve : curves)
            curve.columns[size_t(((k % columnCount) + columnCount) % columnCount)] = MinMax();
    }
    right = newRight;
    const qint64 left = right - columnCount + 1;
    // Summaries that the buffer no longer holds leave the columns they were in.
    if (grid.summarised && buffer->historyStart() != historyStart) {
        historyStart = buffer->historyStart();
        changed = std::min(changed, grid.columnOfLine(*buffer, historyStart) - 1);
    }
    changed = std::max(changed, left);
    computeColumns(changed, right);
    // Scrolling moves whole device pixels: where a column is not a whole number of them (a
    // fractional scale factor), the chart is painted whole instead.
    const double scale = devicePixelRatioF();
    if (updateRange() || (scrolled > 0 && scale != std::floor(scale))) {
        update();
        return;
    }
    if (scrolled > 0) {
        scroll(-scrolled, 0, scrollArea());
        update(labelArea());
    }
    // The new columns and those whose line to them changed.
    update(columnsRect(firstAffected(int(changed - left)), columnCount - 1));
    // A curve's line starts in the view: where the line that came in from beyond its left edge
    // scrolled out, the columns up to the curve's first are drawn again without it.
    int repaired = -1;
    for (size_t index = 0; index < curves.size(); ++index) {
        if (!curves[index].visible || leftmost[index] >= scrolled)
            continue;
        int first = 0;
        while (first < columnCount && column(curves[index], first).isEmpty())
            ++first;
        if (first < columnCount)
            repaired = std::max(repaired, first);
    }
    if (repaired >= 0)
        update(columnsRect(0, repaired));
}

int PlotWidget::firstAffected(int changed) const
{
    int first = changed;
    for (const Curve &curve : curves) {
        if (!curve.visible)
            continue;
        int index = changed - 1;
        while (index >= 0 && column(curve, index).isEmpty())
            --index;
        first = std::min(first, std::max(index, 0));
    }
    return std::max(first, 0);
}

QRect PlotWidget::scrollArea() const
{
    // The columns with the frame's lines above and below them: all fixed to the time axis or
    // the same in every column.
    const QRect area = plotArea();
    return QRect(area.left(), area.top() - 1, area.width(), area.height() + 2);
}

QRect PlotWidget::labelArea() const
{
    const QRect area = plotArea();
    return QRect(0, area.bottom() + 2, width(), fontMetrics().height() + 4);
}

QRect PlotWidget::columnsRect(int first, int last) const
{
    const QRect strip = scrollArea();
    return QRect(strip.left() + first, strip.top(), last - first + 1, strip.height());
}

void PlotWidget::resizeEvent(QResizeEvent *)
{
    rebuild();
}

void PlotWidget::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    // The region's own rectangles: its bounding one may span the strips of the new columns and
    // of the tick labels, which lie far apart.
    const QRegion dirty = event->region();
    const QRect area = plotArea();
    // The columns paint every pixel of theirs.
    for (const QRect &rect : dirty - QRegion(area))
        painter.fillRect(rect, Qt::white);
    if (area.width() < 2 || area.height() < 2)
        return;
    const QFontMetrics metrics = fontMetrics();
    // The frame, around the columns.
    painter.fillRect(area.left() - 1, area.top() - 1, area.width() + 2, 1, Qt::black);
    painter.fillRect(area.left() - 1, area.bottom() + 1, area.width() + 2, 1, Qt::black);
    painter.fillRect(area.left() - 1, area.top(), 1, area.height(), Qt::black);
    painter.fillRect(area.right() + 1, area.top(), 1, area.height(), Qt::black);
    const QRect title(area.left(), area.bottom() + metrics.height() + 6, area.width(),
                      metrics.height() * 2);
    if (dirty.intersects(title))
        painter.drawText(title, Qt::AlignHCenter | Qt::AlignTop, xTitle);
    const bool ranged = top > bottom && std::isfinite(top - bottom);
    if (ranged && dirty.intersects(QRect(0, 0, area.left(), height()))) {
        const double yStep = tickStep(top - bottom);
        for (double tick = std::ceil(bottom / yStep); tick * yStep <= top + yStep * 1e-9; ++tick) {
            const double row = (area.height() - 1) * (top - tick * yStep) / (top - bottom);
            const QString text = tickLabel(tick * yStep, yStep);
            painter.drawText(area.left() - metrics.horizontalAdvance(text) - metrics.height() / 3,
                             area.top() + int(std::lround(row)) + metrics.ascent() / 2, text);
        }
    }
    if (!valid)
        return;
    // Tick labels below the columns, whole, for the ticks in the view.
    if (dirty.intersects(labelArea())) {
        const double xStep = tickStep(shownSpan());
        const qint64 left = right - columnCount + 1;
        for (double tick = std::ceil(xLow() / xStep); tick * xStep < xHigh(); ++tick) {
            const QString text = tickLabel(tick * xStep, xStep);
            const qint64 at = area.left() + grid.columnOf(tick * xStep) - left;
            painter.drawText(int(at) - metrics.horizontalAdvance(text) / 2,
                             area.bottom() + 3 + metrics.ascent(), text);
        }
    }
    for (const QRect &rect : dirty) {
        const int first = std::max(0, rect.left() - area.left());
        const int last = std::min(columnCount - 1, rect.right() - area.left());
        if (first > last || rect.bottom() < area.top() || rect.top() > area.bottom())
            continue;
        renderColumns(first, last);
        // In bands: Qt's raster engine hands a draw of more than about a hundred rows to a
        // pool of threads, and for a few columns waking them costs far more than the drawing.
        for (int top = 0; top < rowCount; top += kBandRows)
            painter.drawImage(
                QPoint(area.left() + first, area.top() + top), canvas,
                QRect(first, top, last - first + 1, std::min(kBandRows, rowCount - top)));
    }
    // Over the columns, wherever they were painted: the system clips to the region.
    if (!marks.empty() && dirty.intersects(area))
        paintMarkers(painter);
    if (dirty.intersects(area))
        paintCursors(painter);
}

void PlotWidget::setMarkers(std::vector<Marker> markers)
{
    marks = std::move(markers);
    update(plotArea());
}

int PlotWidget::xOfTime(double time) const
{
    if (!valid || !(time >= xLow() && time < xHigh()))
        return -1;
    return plotArea().left() + int(grid.columnOf(time) - (right - columnCount + 1));
}

double PlotWidget::timeAtX(int x) const
{
    const int index = x - plotArea().left();
    if (!valid || index < 0 || index >= columnCount)
        return std::numeric_limits<double>::quiet_NaN();
    return grid.start(right - columnCount + 1 + index) + grid.width / 2;
}

void PlotWidget::setCursorTime(int which, double time)
{
    double &at = cursorTimes[which & 1];
    if (at == time || (std::isnan(at) && std::isnan(time)))
        return;
    at = time;
    update(plotArea());
    emit cursorsChanged();
}

void PlotWidget::setView(double low, double high)
{
    if (!(high > low) || !std::isfinite(high - low) || (low == viewLow && high == viewHigh))
        return;
    viewLow = low;
    viewHigh = high;
    rebuild();
}

void PlotWidget::followLive()
{
    if (isFollowingLive())
        return;
    viewLow = viewHigh = 0;
    rebuild();
}

void PlotWidget::setZoomable(bool on)
{
    zoomable = on;
    panning = false;
    if (!on)
        followLive();
}

std::pair<double, double> PlotWidget::zoomedAbout(double low, double high, double at, double factor)
{
    return {at - (at - low) / factor, at + (high - at) / factor};
}

void PlotWidget::mousePressEvent(QMouseEvent *event)
{
    pressedAt = positionOf(event, 0).toPoint();
    pressedButton = event->button();
    panning = false;
    panLow = xLow();
    panHigh = xHigh();
    dragged = -1;
    // A press on a cursor's line takes it along.
    for (int which : {CursorA, CursorB}) {
        const int x = xOfTime(cursorTimes[which]);
        if (event->button() == Qt::LeftButton && x >= 0
            && std::abs(x - pressedAt.x()) <= kDragPixels)
            dragged = which;
    }
}

void PlotWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (pressedButton == Qt::NoButton)
        return;
    const QPoint at = positionOf(event, 0).toPoint();
    if (dragged >= 0) {
        const int x = std::clamp(at.x(), plotArea().left(), plotArea().right());
        setCursorTime(dragged, timeAtX(x));
        return;
    }
    if (zoomable && valid && pressedButton == Qt::LeftButton
        && (panning || std::abs(at.x() - pressedAt.x()) > kDragPixels)) {
        panning = true;
        const double shift = (pressedAt.x() - at.x()) * (panHigh - panLow) / columnCount;
        setView(panLow + shift, panHigh + shift);
    }
}

void PlotWidget::mouseReleaseEvent(QMouseEvent *event)
{
    const Qt::MouseButton button = pressedButton;
    pressedButton = Qt::NoButton;
    if (dragged >= 0 || panning || button != event->button())
        return;
    const double time = timeAtX(positionOf(event, 0).toPoint().x());
    if (std::isnan(time))
        return;
    const bool second = button == Qt::RightButton || (event->modifiers() & Qt::ShiftModifier) != 0;
    if (button == Qt::LeftButton || button == Qt::RightButton)
        setCursorTime(second ? CursorB : CursorA, time);
}

void PlotWidget::wheelEvent(QWheelEvent *event)
{
    const double at = timeAtX(positionOf(event, 0).toPoint().x());
    const int steps = event->angleDelta().y();
    if (!zoomable || std::isnan(at) || steps == 0) {
        event->ignore();
        return;
    }
    // A notch (120) zooms by a quarter; no closer than a microsecond a column.
    const double low = xLow(), high = xHigh();
    const double factor
        = std::min(std::pow(1.25, steps / 120.0), (high - low) / (1e-6 * columnCount));
    const auto [from, to] = zoomedAbout(low, high, at, factor);
    setView(from, to);
}

void PlotWidget::paintCursors(QPainter &painter) const
{
    const QRect area = plotArea();
    const QFontMetrics metrics = fontMetrics();
    painter.save();
    painter.setClipRect(area);
    for (int which : {CursorA, CursorB}) {
        const int x = xOfTime(cursorTimes[which]);
        if (x < 0)
            continue;
        const QColor colour = which == CursorA ? QColor(0, 0, 0) : QColor(128, 0, 128);
        painter.setPen(QPen(colour, 1, which == CursorA ? Qt::SolidLine : Qt::DashDotLine));
        painter.drawLine(x, area.top(), x, area.bottom());
        const QString label = which == CursorA ? QStringLiteral("A") : QStringLiteral("B");
        const QRect text(x + 2, area.bottom() - metrics.height() - 2,
                         metrics.horizontalAdvance(label) + 4, metrics.height());
        painter.fillRect(text, QColor(255, 255, 255, 220));
        painter.setPen(colour);
        painter.drawText(text, Qt::AlignCenter, label);
    }
    painter.restore();
}

void PlotWidget::paintMarkers(QPainter &painter) const
{
    const QRect area = plotArea();
    const QFontMetrics metrics = fontMetrics();
    painter.save();
    painter.setClipRect(area);
    for (size_t index = 0; index < marks.size(); ++index) {
        const Marker &marker = marks[index];
        const int x = xOfTime(marker.time);
        if (x < 0)
            continue;
        painter.setPen(QPen(marker.colour, 1, marker.style));
        painter.drawLine(x, area.top(), x, area.bottom());
        const int row = int(index % 3);
        const QRect text(x + 2, area.top() + 2 + row * (metrics.height() + 2),
                         metrics.horizontalAdvance(marker.label) + 4, metrics.height());
        painter.fillRect(text, QColor(255, 255, 255, 220));
        painter.setPen(marker.colour);
        painter.drawText(text, Qt::AlignCenter, marker.label);
    }
    painter.restore();
}

void PlotWidget::renderColumns(int first, int last)
{
    const int count = last - first + 1;
    // Rows of the canvas without scanLine()'s check for sharing at every pixel.
    QRgb *const pixels = reinterpret_cast<QRgb *>(canvas.bits());
    const qsizetype stride = canvas.bytesPerLine() / qsizetype(sizeof(QRgb));
    const auto line = [&](int row) {
        return pixels + row * stride;
    };
    for (int row = 0; row < rowCount; ++row)
        std::fill(line(row) + first, line(row) + last + 1, kBackground);
    if (!(top > bottom) || !std::isfinite(top - bottom))
        return;
    // Grid lines at whole multiples of the tick steps: the X ones in the column of their time.
    const double yStep = tickStep(top - bottom);
    const double rowsPerUnit = (rowCount - 1) / (top - bottom);
    const auto rowOf = [&](double value) {
        return std::clamp((top - value) * rowsPerUnit, -1.0, double(rowCount));
    };
    for (double tick = std::ceil(bottom / yStep); tick * yStep <= top + yStep * 1e-9; ++tick) {
        const long row = std::lround(rowOf(tick * yStep));
        if (row >= 0 && row < rowCount)
            std::fill(line(int(row)) + first, line(int(row)) + last + 1, kGrid);
    }
    const double xStep = tickStep(shownSpan());
    const qint64 left = right - columnCount + 1;
    // From one tick early: a tick's quotient may round above the first column's, while the
    // edges put it in that column.
    for (double tick = std::floor(grid.start(left + first) / xStep);
         tick * xStep < grid.start(left + last + 1); ++tick) {
        const qint64 index = grid.columnOf(tick * xStep) - left;
        if (index >= first && index <= last) {
            for (int row = 0; row < rowCount; ++row)
                line(row)[index] = kGrid;
        }
    }

    // Each curve: per column, the span of values its lines and the lines joining them cover.
    std::vector<double> lows(static_cast<size_t>(count)), highs(static_cast<size_t>(count));
    for (const Curve &curve : curves) {
        if (!curve.visible)
            continue;
        std::fill(lows.begin(), lows.end(), std::numeric_limits<double>::infinity());
        std::fill(highs.begin(), highs.end(), -std::numeric_limits<double>::infinity());
        const auto cover = [&](int index, double a, double b) {
            double &low = lows[size_t(index - first)], &high = highs[size_t(index - first)];
            low = std::min({low, a, b});
            high = std::max({high, a, b});
        };
        for (int index = first; index <= last; ++index) {
            const MinMax &values = column(curve, index);
            if (values.hasValues())
                cover(index, values.low, values.high);
        }
        // The line from the middle of a column that holds lines to the middle of the next,
        // across the empty ones between: in each column, the part of it over that column.
        int from = first - 1;
        while (from >= 0 && column(curve, from).isEmpty())
            --from;
        for (int to = first;; ++to) {
            while (to < columnCount && column(curve, to).isEmpty())
                ++to;
            if (to >= columnCount)
                break;
            if (from >= 0 && joined(column(curve, from), column(curve, to))) {
                const double a = column(curve, from).last(), b = column(curve, to).first();
                const double slope = (b - a) / (to - from);
                const auto at = [&](double x) {
                    return a + slope * (x - (from + 0.5));
                };
                for (int index = std::max(from, first); index <= std::min(to, last); ++index)
                    cover(index, at(index == from ? from + 0.5 : index),
                          at(index == to ? to + 0.5 : index + 1.0));
            }
            if (to > last)
                break;
            from = to;
        }
        for (int index = first; index <= last; ++index) {
            const double low = lows[size_t(index - first)], high = highs[size_t(index - first)];
            if (low > high)
                continue;
            const int upper = int(std::lround(rowOf(high)));
            const int lower = int(std::lround(rowOf(low)));
            for (int row = std::max(upper, 0); row <= std::min(lower, rowCount - 1); ++row)
                line(row)[index] = curve.colour;
        }
    }
}
