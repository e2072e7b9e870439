// SPDX-License-Identifier: MIT
#include "comparison.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <limits>

namespace pidtune::scope {

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

} // namespace

double valueAt(const SampleBuffer &buffer, int series, double time)
{
    const qsizetype lines = buffer.size();
    const qsizetype at = buffer.lowerBound(time);
    qsizetype after = at;
    while (after < lines && after - at < kReach
           && SampleBuffer::isAbsent(buffer.value(series, after)))
        ++after;
    if (after == lines || after - at == kReach)
        return kNan;
    const double next = buffer.value(series, after);
    if (buffer.time(after) == time)
        return std::isfinite(next) ? next : kNan;
    qsizetype before = at - 1;
    while (before >= 0 && at - before <= kReach
           && SampleBuffer::isAbsent(buffer.value(series, before)))
        --before;
    if (before < 0 || at - before > kReach)
        return kNan;
    const double previous = buffer.value(series, before);
    if (!std::isfinite(previous) || !std::isfinite(next))
        return kNan;
    const double t0 = buffer.time(before), t1 = buffer.time(after);
    return previous + (next - previous) * (time - t0) / (t1 - t0);
}

StepCurve cutStep(const SampleBuffer &buffer, int response, const StepMetrics &step, double before,
                  double until)
{
    StepCurve curve;
    curve.step = step;
    const qsizetype start = buffer.lowerBound(step.time);
    double sum = 0;
    int count = 0;
    for (qsizetype line = start - 1; line >= 0 && count < kRestLines; --line) {
        const double value = buffer.value(response, line);
        if (std::isfinite(value)) {
            sum += value;
            ++count;
        }
    }
    for (qsizetype line = start; count == 0 && line < buffer.size(); ++line) {
        const double value = buffer.value(response, line); // no line before: its first after
        if (std::isfinite(value)) {
            sum = value;
            count = 1;
        }
    }
    curve.rest = count > 0 ? sum / count : kNan;

    std::vector<QPointF> lines;
    for (qsizetype line = buffer.lowerBound(step.time - before);
         line < buffer.size() && buffer.time(line) <= until; ++line) {
        const double value = buffer.value(response, line);
        if (!SampleBuffer::isAbsent(value))
            lines.emplace_back(buffer.time(line) - step.time, std::isfinite(value) ? value : kNan);
    }
    if (lines.size() <= kMaxPoints) {
        curve.points = std::move(lines);
        return curve;
    }
    // Each stretch as its lowest and highest line, in the order they came; a gap stays a gap.
    const size_t stretch = (lines.size() + kMaxPoints / 2 - 1) / (kMaxPoints / 2);
    for (size_t first = 0; first < lines.size(); first += stretch) {
        const auto begin = lines.begin() + ptrdiff_t(first);
        const auto end = lines.begin() + ptrdiff_t(std::min(lines.size(), first + stretch));
        const auto gap
            = std::find_if(begin, end, [](const QPointF &p) { return std::isnan(p.y()); });
        if (gap != end) {
            curve.points.push_back(*gap);
            continue;
        }
        const auto [low, high] = std::minmax_element(
            begin, end, [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); });
        curve.points.push_back(low < high ? *low : *high);
        if (low != high)
            curve.points.push_back(low < high ? *high : *low);
    }
    return curve;
}

std::vector<QPointF> overlay(const StepCurve &curve, bool normalised)
{
    std::vector<QPointF> points = curve.points;
    if (normalised) {
        const double way = curve.step.to - curve.step.from;
        for (QPointF &point : points)
            point.setY((point.y() - curve.rest) / way);
    }
    return points;
}

void StepComparison::setCount(int count)
{
    latest = std::max(1, count);
    trim();
}

void StepComparison::add(StepCurve curve)
{
    kept.push_back(std::move(curve));
    trim();
}

void StepComparison::pin(int index)
{
    reference = index >= 0 && index < int(kept.size()) ? index : -1;
}

void StepComparison::trim()
{
    // The oldest go first, but not the reference.
    const int limit = latest + (reference >= 0 ? 1 : 0);
    while (int(kept.size()) > limit) {
        const int oldest = reference == 0 ? 1 : 0;
        kept.erase(kept.begin() + oldest);
        if (reference > oldest)
            --reference;
    }
}

bool StepComparison::writeCsv(const QString &path, bool normalised, QString *error) const
{
    // Saved beside and renamed over the target, which would turn a device or a FIFO into a file.
    if (QFileInfo(path).exists() && !QFileInfo(path).isFile()) {
        *error = QStringLiteral("not a regular file");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const auto number = [](double value) {
        return QByteArray::number(value, 'g', 17);
    };
    QByteArray text = "step,sp_from,sp_to,params,rise,overshoot,settling,sse,reference,time,"
        + QByteArray(normalised ? "normalised" : "value") + '\n';
    for (size_t i = 0; i < kept.size(); ++i) {
        const StepMetrics &step = kept[i].step;
        // The parameters hold commas: quoted, a quote in a name doubled.
        const QByteArray head = number(step.time) + ',' + number(step.from) + ',' + number(step.to)
            + ",\"" + step.params.toUtf8().replace('"', "\"\"") + "\"," + number(step.rise) + ','
            + number(step.overshoot) + ',' + number(step.settling) + ',' + number(step.error) + ','
            + (int(i) == reference ? "1," : "0,");
        for (const QPointF &point : overlay(kept[i], normalised))
            text += head + number(point.x()) + ',' + number(point.y()) + '\n';
    }
    if (file.write(text) != text.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace pidtune::scope
