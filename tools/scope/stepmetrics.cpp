// SPDX-License-Identifier: MIT
#include "stepmetrics.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace pidtune::scope {

namespace {

constexpr double kBand = 0.02;
// A response is not called settled on fewer lines than this since its step.
constexpr size_t kMinLines = 8;
// The longest step kept, as many lines as the plot's buffer holds.
constexpr size_t kMaxLines = size_t(1) << 17;

} // namespace

QString stepLine(const StepMetrics &step)
{
    const auto shortest = [](double value) {
        return QString::number(value, 'g', QLocale::FloatingPointShortest);
    };
    const auto four = [](double value) {
        return QString::number(value, 'g', 4);
    };
    return QStringLiteral("step t=%1 sp=%2->%3 rise=%4 overshoot=%5 settling=%6 sse=%7")
        .arg(QString::number(step.time, 'f', 3), shortest(step.from), shortest(step.to),
             four(step.rise), QString::number(step.overshoot, 'f', 1), four(step.settling),
             four(step.error));
}

std::optional<StepMetrics> StepTracker::add(double time, double newSetpoint, double value)
{
    std::optional<StepMetrics> ended;
    if (std::isfinite(newSetpoint)) {
        if (std::isfinite(setpoint) && newSetpoint != setpoint) {
            if (stepping)
                ended = measure();
            stepping = true;
            step = StepMetrics();
            step.time = time;
            step.from = setpoint;
            step.to = newSetpoint;
            response.clear();
            // The value before the step is where the response starts from.
            if (std::isfinite(lastResponse.value))
                response.push_back(lastResponse);
            nextCheck = kMinLines;
        }
        setpoint = newSetpoint;
    }
    if (!std::isfinite(value))
        return ended;
    lastResponse = {time, value};
    if (!stepping)
        return ended;
    response.push_back(lastResponse);
    if (response.size() >= kMaxLines)
        return finish();
    if (response.size() < nextCheck)
        return ended;
    // Measuring takes all the lines since the step: checked less often as they grow, so the
    // work per line stays constant and the report comes at most a sixteenth late.
    nextCheck = response.size() + std::max<size_t>(1, response.size() / 16);
    const StepMetrics now = measure();
    if (now.settling <= (time - step.time) / 3 && levelled(now)) { // false while NaN
        stepping = false;
        return now;
    }
    return ended;
}

std::optional<StepMetrics> StepTracker::finish()
{
    if (!stepping)
        return std::nullopt;
    stepping = false;
    return measure();
}

bool StepTracker::levelled(const StepMetrics &now) const
{
    // A response can stay in the band around a final value that is still moving: the slow tail
    // after an overshoot, which the mean over the last tenth follows. It has levelled when the
    // trend of its second half (least squares, so that noise averages out) moves it by less
    // than a quarter of the band over that half.
    const double half = (response.back().time + step.time) / 2;
    double n = 0, t = 0, y = 0, tt = 0, ty = 0;
    for (auto point = response.rbegin(); point != response.rend() && point->time >= half; ++point) {
        const double since = point->time - half;
        n += 1;
        t += since;
        y += point->value;
        tt += since * since;
        ty += since * point->value;
    }
    const double spread = n * tt - t * t;
    if (n < 3 || !(spread > 0))
        return false;
    const double slope = (n * ty - t * y) / spread;
    const double way = step.to - now.error - response.front().value;
    return std::abs(slope) * (response.back().time - half) <= kBand / 4 * std::abs(way);
}

StepMetrics StepTracker::measure() const
{
    StepMetrics measured = step;
    if (response.empty())
        return measured;
    // The final value: the mean over the last tenth of the time since the step, which smooths
    // noise while a settled response no longer moves.
    const double tail = response.back().time - (response.back().time - step.time) / 10;
    double sum = 0;
    int count = 0;
    for (auto point = response.rbegin(); point != response.rend(); ++point) {
        if (count > 0 && point->time < tail)
            break;
        sum += point->value;
        ++count;
    }
    const double finalValue = sum / count;
    measured.error = step.to - finalValue;

    const double start = response.front().value;
    const double way = finalValue - start;
    if (!(std::abs(way) > 0) || !std::isfinite(way))
        return measured;
    // How far along its way to the final value the response is at a line: 0 to 1.
    const auto progress = [&](size_t i) {
        return (response[i].value - start) / way;
    };
    // When it crossed the level, between the lines before and at i, interpolated.
    const auto crossing = [&](size_t i, double level) {
        const double before = progress(i - 1);
        return response[i - 1].time
            + (level - before) / (progress(i) - before) * (response[i].time - response[i - 1].time);
    };
    const size_t lines = response.size();
    size_t at10 = 0;
    while (at10 < lines && progress(at10) < 0.1)
        ++at10;
    size_t at90 = at10;
    while (at90 < lines && progress(at90) < 0.9)
        ++at90;
    if (at10 > 0 && at90 < lines)
        measured.rise = crossing(at90, 0.9) - crossing(at10, 0.1);

    // Never below 0: the final value is a mean of the response, which went at least that far.
    double peak = 0;
    for (size_t i = 0; i < lines; ++i)
        peak = std::max(peak, progress(i));
    measured.overshoot = (peak - 1) * 100;

    size_t inside = lines; // the first line of the final run within the band
    while (inside > 0 && std::abs(progress(inside - 1) - 1) <= kBand)
        --inside;
    if (inside == 0) {
        measured.settling = 0;
    } else if (inside < lines) {
        const double edge = progress(inside - 1) > 1 ? 1 + kBand : 1 - kBand;
        measured.settling = std::max(0.0, crossing(inside, edge) - step.time);
    }
    return measured;
}

} // namespace pidtune::scope
