// SPDX-License-Identifier: MIT
#include "stepmetrics.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace pidtune::scope {

namespace {

using Point = StepTracker::Point;

constexpr double kBand = 0.02;
// What noise is left after smoothing widens the band to this many times itself, so that being
// in the band or not is something the recording can tell.
constexpr double kNoiseBands = 3;
// A response is not called settled on fewer lines than this since its step.
constexpr size_t kMinLines = 8;
// The most lines before a step that tell where the response started and how noisy it is.
constexpr size_t kPreLines = 2048;
// How many of its own standard deviations a smoothed value may stray before a wider window is
// taken to be bent by the response's shape rather than quieter.
constexpr double kConfidence = 3;
// A creep this many times slower than the response's way to 90 % of its final value still counts.
constexpr double kCreep = 100;
// A change between means counts as seen beyond this many of the standard deviations noise gives
// it: checked again and again, it must seldom be noise.
constexpr double kSeen = 3;

// The smallest difference between two values the response took: a sensor's step, one count,
// where its readings are quantised; next to nothing where they are not. A response of two values
// only (one that jumped) tells nothing of it.
double resolution(const Point *begin, const Point *end)
{
    std::vector<double> values;
    values.reserve(size_t(end - begin));
    for (const Point *point = begin; point < end; ++point)
        values.push_back(point->value);
    std::sort(values.begin(), values.end());
    double smallest = INFINITY;
    int distinct = 1;
    for (size_t i = 1; i < values.size(); ++i) {
        if (values[i] > values[i - 1]) {
            smallest = std::min(smallest, values[i] - values[i - 1]);
            ++distinct;
        }
    }
    return distinct >= 3 ? smallest : 0;
}

// The standard deviation of white noise on a smooth signal, from the spread of its second
// differences: six times the noise's variance, while the signal's own bending, much the same
// from one line to the next, only shifts them. The spread is their median distance from their
// median (times 1.4826, a normal distribution's standard deviation over that), so that a few
// lines that bend sharply, a transient before the step such as a new gain's, count no more
// than noise would.
double noise(const Point *begin, const Point *end)
{
    if (end - begin < 4)
        return 0;
    std::vector<double> bends;
    bends.reserve(size_t(end - begin));
    for (const Point *point = begin + 2; point < end; ++point)
        bends.push_back(point->value - 2 * point[-1].value + point[-2].value);
    const auto median = [](std::vector<double> &values) {
        const auto middle = values.begin() + ptrdiff_t(values.size() / 2);
        std::nth_element(values.begin(), middle, values.end());
        return *middle;
    };
    const double centre = median(bends);
    for (double &bend : bends)
        bend = std::abs(bend - centre);
    return 1.4826 * median(bends) / std::sqrt(6.0);
}

// The level where the response was at the last line before the step: a straight line through
// those lines, so that neither their noise nor a slow drift shifts it.
double startLevel(const Point *begin, const Point *end)
{
    const double n = double(end - begin);
    double t = 0, y = 0;
    for (const Point *point = begin; point < end; ++point) {
        t += point->time;
        y += point->value;
    }
    t /= n;
    y /= n;
    double tt = 0, ty = 0;
    for (const Point *point = begin; point < end; ++point) {
        tt += (point->time - t) * (point->time - t);
        ty += (point->time - t) * (point->value - y);
    }
    return tt > 0 ? y + ty / tt * (end[-1].time - t) : y;
}

// The response with its noise taken out: at each line, a straight line fitted over the lines
// around it, as many as can be taken before the fit's value leaves the confidence intervals of
// the narrower fits (the intersection of confidence intervals rule). Where the response bends
// sharply or rings the windows stay narrow; where it is straight or level they widen and average
// the noise away. Each line then takes the median of its neighbours' widths, so that a window
// that stopped short by chance does not leave a spike of noise. Centred windows shift nothing
// in time. Fits over line numbers, not times, so prefix sums serve every window.
void smooth(const Point *points, size_t n, double sigma, std::vector<double> &smoothed,
            std::vector<double> &deviation)
{
    smoothed.resize(n);
    deviation.assign(n, sigma);
    for (size_t i = 0; i < n; ++i)
        smoothed[i] = points[i].value;
    if (!(sigma > 0))
        return;
    const double reference = points[0].value; // keeps the sums small
    std::vector<double> sumY(n + 1, 0.0), sumIY(n + 1, 0.0);
    for (size_t i = 0; i < n; ++i) {
        sumY[i + 1] = sumY[i] + (points[i].value - reference);
        sumIY[i + 1] = sumIY[i] + double(i) * (points[i].value - reference);
    }
    static constexpr size_t widths[]
        = {0, 1, 2, 3, 4, 6, 8, 11, 16, 23, 32, 45, 64, 91, 128, 181, 256, 362, 512, 724, 1024};
    // The fitted value at line c over the lines c - width to c + width, and its deviation.
    const auto fit = [&](size_t c, size_t width, double *sd) {
        const size_t first = c >= width ? c - width : 0, last = std::min(n - 1, c + width);
        const double count = double(last - first + 1);
        const double middle = (double(first) + double(last)) / 2, off = double(c) - middle;
        const double y = sumY[last + 1] - sumY[first];
        if (count < 2) {
            *sd = sigma;
            return reference + y;
        }
        const double spread = count * (count * count - 1) / 12; // sum of (i - middle)^2
        const double slope = (sumIY[last + 1] - sumIY[first] - middle * y) / spread;
        *sd = sigma * std::sqrt(1 / count + off * off / spread);
        return reference + y / count + slope * off;
    };
    std::vector<unsigned char> chosen(n, 0);
    for (size_t c = 0; c < n; ++c) {
        double low = -INFINITY, high = INFINITY, sd = 0;
        for (unsigned char w = 0; w < std::size(widths); ++w) {
            const double value = fit(c, widths[w], &sd);
            low = std::max(low, value - kConfidence * sd);
            high = std::min(high, value + kConfidence * sd);
            if (low > high || (widths[w] >= c && c + widths[w] >= n - 1))
                break;
            chosen[c] = w;
        }
    }
    constexpr size_t kNeighbours = 8;
    unsigned char around[2 * kNeighbours + 1];
    for (size_t c = 0; c < n; ++c) {
        const size_t first = c >= kNeighbours ? c - kNeighbours : 0;
        const size_t last = std::min(n - 1, c + kNeighbours);
        std::copy(chosen.begin() + ptrdiff_t(first), chosen.begin() + ptrdiff_t(last) + 1, around);
        const size_t count = last - first + 1;
        std::nth_element(around, around + count / 2, around + count);
        smoothed[c] = fit(c, widths[around[count / 2]], &deviation[c]);
    }
}

// Where the response is heading, from the means of the four quarters of the last half of the time
// since the step.
struct Trend
{
    double final = StepMetrics::kNone; // the last quarter's mean, and what is still to come
    double change = 0; // from the third quarter's mean to the last's
    double changeSigma = INFINITY; // what noise alone makes of that change
    double spacing = 0; // between the quarters, in seconds
    bool decaying = false; // slowing down as one exponential does
    double rest = 0; // what is still to come after the last quarter, if so
    size_t lastBegin = 0; // the last quarter's first line
    double lastCount = 0;
};

Trend trend(const Point *points, size_t n, double since, double sigma)
{
    constexpr int kParts = 4;
    Trend trend;
    const double end = points[n - 1].time;
    trend.spacing = (end - since) / (2 * kParts);
    if (!(trend.spacing > 0))
        return trend;
    double sum[kParts] = {}, count[kParts] = {};
    size_t i = n;
    while (i > 0 && points[i - 1].time >= end - kParts * trend.spacing) {
        --i;
        const double back = std::clamp((end - points[i].time) / trend.spacing, 0.0, kParts - 1.0);
        const int part = kParts - 1 - int(back);
        sum[part] += points[i].value;
        count[part] += 1;
        if (part == kParts - 1)
            trend.lastBegin = i;
    }
    double change[kParts - 1];
    bool seen = true;
    for (int part = 0; part < kParts; ++part) {
        if (count[part] == 0)
            return trend;
        if (part > 0) {
            change[part - 1] = sum[part] / count[part] - sum[part - 1] / count[part - 1];
            trend.changeSigma = sigma * std::sqrt(1 / count[part] + 1 / count[part - 1]);
            seen = seen && std::abs(change[part - 1]) > kSeen * trend.changeSigma;
        }
    }
    trend.change = change[kParts - 2];
    trend.lastCount = count[kParts - 1];
    trend.final = sum[kParts - 1] / count[kParts - 1];
    // Slowing down at one rate, as a decaying exponential: what is left is a geometric series.
    // A rate that slows down itself is a faster decay ending on a slower one, a creep, whose rest
    // cannot be told from these.
    const double earlier = change[1] / change[0], later = change[2] / change[1];
    trend.decaying = seen && earlier > 0 && later > 0 && earlier < 1 && later < 1
        && std::log(earlier) / std::log(later) <= 1.25;
    if (trend.decaying) {
        trend.rest = trend.change * later / (1 - later);
        trend.final += trend.rest;
    }
    return trend;
}

} // namespace

QString cutName(Cut cut)
{
    switch (cut) {
    case Cut::None:
        break;
    case Cut::NextStep:
        return QStringLiteral("next-step");
    case Cut::TimeBack:
        return QStringLiteral("time-back");
    case Cut::SourceEnded:
        return QStringLiteral("source-ended");
    case Cut::Closed:
        return QStringLiteral("closed");
    case Cut::TooLong:
        return QStringLiteral("too-long");
    }
    return {};
}

QString stepLine(const StepMetrics &step)
{
    const auto shortest = [](double value) {
        return QString::number(value, 'g', QLocale::FloatingPointShortest);
    };
    const auto four = [](double value) {
        return QString::number(value, 'g', 4);
    };
    QString line
        = QStringLiteral("step t=%1 sp=%2->%3 rise=%4 overshoot=%5 settling=%6 sse=%7 "
                         "band=%8")
              .arg(QString::number(step.time, 'f', 3), shortest(step.from), shortest(step.to),
                   four(step.rise), QString::number(step.overshoot, 'f', 1), four(step.settling),
                   four(step.error), four(step.band));
    if (step.ramp > 0)
        line += QStringLiteral(" ramp=%1").arg(QString::number(step.ramp, 'f', 3));
    if (step.cut != Cut::None)
        line += QStringLiteral(" cut=") + cutName(step.cut);
    if (!step.params.isEmpty())
        line += QStringLiteral(" params=") + step.params;
    return line;
}

std::optional<StepMetrics> StepTracker::add(double time, double setpoint, double value)
{
    std::optional<StepMetrics> ended;
    if (!std::isfinite(lastRest))
        lastRest = time;
    if (std::isfinite(setpoint)) {
        largest = std::max(largest, std::abs(setpoint));
        if (!std::isfinite(current)) {
            level = current = setpoint;
        } else if (std::abs(setpoint - current) > kJitter * largest) {
            if (!moving) {
                moving = true;
                moveStart = time;
                moveIndex = points.size();
                if (stepping)
                    ended = cutStep(Cut::NextStep);
            }
            current = setpoint;
            lastChange = time;
        }
    }
    if (std::isfinite(value))
        points.push_back({time, value});
    if (moving && time - lastChange >= kHoldSeconds)
        startStep();
    if (!stepping && !moving && points.size() > 2 * kPreLines)
        points.erase(points.begin(), points.end() - kPreLines);
    if (!stepping || ended)
        return ended;
    const size_t lines = points.size() - stepIndex;
    if (lines >= kMaxLines)
        return cutStep(Cut::TooLong);
    if (lines < nextCheck)
        return ended;
    // Measuring takes all the lines since the step: checked less often as they grow, so the
    // work per line stays constant and the report comes at most a sixteenth late.
    nextCheck = lines + std::max<size_t>(1, lines / 16);
    bool settled = false;
    StepMetrics now = measure(&settled);
    if (!believed(now, settled))
        return ended;
    stepping = false;
    return now;
}

bool StepTracker::believed(const StepMetrics &now, bool settled)
{
    // A verdict of settled is only believed when it holds until half as long again, towards the
    // same final value: a fast decay can hide a creep until it has died away.
    const double elapsed = points.back().time - step.time;
    const double finalValue = step.to - now.error;
    if (!settled) {
        settledSince = settledFinal = StepMetrics::kNone;
    } else if (!(std::abs(finalValue - settledFinal) < now.band / 2)) {
        settledSince = elapsed;
        settledFinal = finalValue;
    } else {
        return elapsed >= 1.5 * settledSince;
    }
    return false;
}

std::optional<StepMetrics> StepTracker::startStep()
{
    moving = false;
    const double from = level;
    level = current;
    const double previousRest = lastRest;
    lastRest = moveStart;
    if (!(std::abs(current - from) > kJitter * largest))
        return std::nullopt; // it came back: a pulse, not a step
    step = StepMetrics();
    step.time = moveStart;
    step.from = from;
    step.to = current;
    step.ramp = lastChange - moveStart;
    stepping = true;
    stepIndex = moveIndex;
    // The later half of the time the set-point rested before, when the response was most
    // likely at rest too.
    preIndex = stepIndex - std::min(stepIndex, kPreLines);
    while (preIndex < stepIndex && points[preIndex].time < (previousRest + moveStart) / 2)
        ++preIndex;
    // Of those, lines still on their way to where the response rests at the step (a new gain's
    // transient, say) tell neither that level nor its noise: they start after the last of them,
    // as far from the level of the last lines as noise or the sensor's resolution could not put
    // them, nor a negligible share of the step.
    const Point *const first = points.data() + preIndex, *const last = points.data() + stepIndex;
    if (last - first >= 8) {
        std::vector<double> recent;
        for (const Point *point = last - 8; point < last; ++point)
            recent.push_back(point->value);
        std::nth_element(recent.begin(), recent.begin() + 4, recent.end());
        const double rest = recent[4];
        const double tolerance = std::max({5 * noise(first, last), resolution(first, last),
                                           2e-3 * std::abs(step.to - step.from)});
        for (size_t i = stepIndex; i > preIndex; --i) {
            if (std::abs(points[i - 1].value - rest) > tolerance) {
                preIndex = i;
                break;
            }
        }
    }
    nextCheck = kMinLines;
    settledSince = settledFinal = StepMetrics::kNone;
    return std::nullopt;
}

std::optional<StepMetrics> StepTracker::cut(Cut why)
{
    if (moving)
        startStep();
    if (!stepping)
        return std::nullopt;
    return cutStep(why);
}

std::optional<StepMetrics> StepTracker::cutStep(Cut why)
{
    stepping = false;
    bool settled = false;
    StepMetrics cut = measure(&settled);
    if (believed(cut, settled))
        return cut; // only not yet checked
    // Rise and overshoot stay if the response had stopped moving: it had not settled.
    cut.cut = why;
    cut.settling = cut.error = StepMetrics::kNone;
    return cut;
}

StepMetrics StepTracker::measure(bool *settled) const
{
    *settled = false;
    StepMetrics measured = step;
    const Point *const before = points.data() + preIndex;
    const Point *const after = points.data() + stepIndex;
    const size_t preCount = stepIndex - preIndex, n = points.size() - stepIndex;
    if (n < 2)
        return measured;

    const double rho = resolution(before, after + n);
    const double start = preCount > 0 ? startLevel(before, after) : after[0].value;
    // Noise before the step and around the final value; at least what whole steps of the
    // resolution make.
    double sigma = std::max(noise(before, after), rho / std::sqrt(12.0));
    Trend heading = trend(after, n, step.time, sigma);
    if (!std::isfinite(heading.final))
        return measured;
    // Around the final value: the last quarter, where the response bends least.
    const double finalNoise = noise(after + heading.lastBegin, after + n);
    if (finalNoise > sigma) {
        sigma = finalNoise;
        heading = trend(after, n, step.time, sigma);
    }
    measured.error = step.to - heading.final;
    const double way = heading.final - start;
    double band = std::max(kBand * std::abs(way), rho / 2);
    // Less than this, and the response did not move as far as the recording can tell.
    if (!(std::abs(way) > 4 * std::max(rho / 2, 2 * sigma / std::sqrt(heading.lastCount))))
        return measured;

    // The smoothed response, led by where it started at the last line before the step.
    std::vector<double> smoothed, deviation;
    smooth(after, n, sigma, smoothed, deviation);
    std::vector<Point> curve;
    curve.reserve(n + 1);
    if (preCount > 0) {
        curve.push_back({after[-1].time, start});
        deviation.insert(deviation.begin(), 0.0);
    }
    for (size_t i = 0; i < n; ++i)
        curve.push_back({after[i].time, smoothed[i]});
    const size_t lines = curve.size();
    // How far along its way to the final value the response is at a line: 0 to 1.
    const auto progress = [&](size_t i) {
        return (curve[i].value - start) / way;
    };
    // When it crossed the level, between the lines before and at i, interpolated.
    const auto crossing = [&](size_t i, double level) {
        const double before = progress(i - 1);
        return curve[i - 1].time
            + (level - before) / (progress(i) - before) * (curve[i].time - curve[i - 1].time);
    };
    size_t at10 = 0;
    while (at10 < lines && progress(at10) < 0.1)
        ++at10;
    size_t at90 = at10;
    while (at90 < lines && progress(at90) < 0.9)
        ++at90;
    if (at10 > 0 && at90 < lines)
        measured.rise = crossing(at90, 0.9) - crossing(at10, 0.1);

    // Beyond the final value, and outside the band, count only as far as the smoothed response
    // is surely there: a narrow window now and then averages too few lines to tell.
    const auto beyond = [&](size_t i) {
        return (curve[i].value - heading.final) * (way > 0 ? 1 : -1) - 0 * deviation[i];
    };
    double peak = 0;
    for (size_t i = 0; i < lines; ++i)
        peak = std::max(peak, beyond(i));
    measured.overshoot = peak / std::abs(way) * 100;

    // The last time the smoothed response was outside the band; the band widened, once or
    // twice, where the noise left around that time is too much to tell.
    for (int widened = 0; widened < 3; ++widened) {
        const double inBand = band / std::abs(way);
        size_t inside = lines; // the first line of the final run within the band
        while (inside > 0
               && std::abs(progress(inside - 1) - 1)
                   <= inBand + 0 * deviation[inside - 1] / std::abs(way))
            --inside;
        measured.settling = StepMetrics::kNone;
        if (inside == lines)
            break;
        if (inside == 0) {
            measured.settling = 0;
            break;
        }
        const double edge = progress(inside - 1) > 1 ? 1 + inBand : 1 - inBand;
        measured.settling = std::max(0.0, crossing(inside, edge) - step.time);
        if (!(kNoiseBands * deviation[inside] > band))
            break;
        band = kNoiseBands * deviation[inside];
    }
    measured.band = band;

    // Still moving at the scale of the band? A creep can take a hundred times as long as the
    // response took to get near its final value: the latest trend, unless the noise could make
    // it, must not take it a quarter of the band further in that time, nor may a slowing trend
    // have that much left; and the noise must let a quarter of the band be seen at all.
    const double elapsed = after[n - 1].time - step.time;
    const double to90 = at90 == lines ? elapsed
        : at90 == 0                   ? curve[0].time - step.time
                                      : crossing(at90, 0.9) - step.time;
    const double horizon = std::max(elapsed, kCreep * to90);
    const double drift = heading.decaying ? std::abs(heading.rest) / 2
        : std::abs(heading.change) > kSeen * heading.changeSigma
        ? std::abs(heading.change) / heading.spacing * horizon
        : 0.0;
    const bool stopped = drift < band / 4 && 2 * heading.changeSigma < band / 4;
    if (!stopped) {
        // Still on its way: where to, nobody knows yet.
        measured.rise = measured.overshoot = measured.band = StepMetrics::kNone;
        return measured;
    }
    *settled = n >= kMinLines && measured.settling <= elapsed / 2;
    return measured;
}

} // namespace pidtune::scope
