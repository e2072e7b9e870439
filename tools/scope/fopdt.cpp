// SPDX-License-Identifier: MIT
#include "fopdt.h"

#include <algorithm>
#include <cmath>

namespace pidtune::scope {

namespace {

// More lines than this are averaged in blocks before the search: each block is far shorter
// than any time constant the step can show, and the search's cost stays bounded.
constexpr size_t kMaxFitLines = 1500;

// The step's lines as deviations from rest, led by the last line at rest.
struct Deviations
{
    std::vector<double> time, u, y;
};

// The input as straight lines between knots; two knots at one time make a jump.
struct Knot
{
    double time, value;
};

// u from the deviations' lines, straight between lines but for the first interval of the
// step: the step happened at one instant within it, at `fraction` of the way, which the lines
// do not tell (only when it arrived is known); the input holds before and after.
std::vector<Knot> knots(const Deviations &d, double fraction)
{
    std::vector<Knot> out;
    out.reserve(d.time.size() + 2);
    out.push_back({d.time[0], d.u[0]});
    const double at = d.time[0] + fraction * (d.time[1] - d.time[0]);
    out.push_back({at, d.u[0]});
    for (size_t i = 1; i < d.time.size(); ++i) {
        if (i == 1)
            out.push_back({at, d.u[1]});
        out.push_back({d.time[i], d.u[i]});
    }
    return out;
}

// The unit-gain model's output at each of the lines' times for the input, delayed by theta,
// from rest. Over each piece between the lines' times and the knots' times plus theta the
// input is straight, and the first-order response to it exact.
void unitResponse(const std::vector<double> &times, const std::vector<Knot> &input, double tau,
                  double theta, std::vector<double> *out)
{
    const size_t n = times.size(), count = input.size();
    out->assign(n, 0.0);
    // The input's value at s, after any jump there; before the first knot, the first value.
    size_t k = 0; // the last knot at or before the s last asked about, which only grows
    const auto valueAt = [&](double s) {
        while (k + 1 < count && input[k + 1].time <= s)
            ++k;
        if (s <= input[0].time && input[0].time > s)
            return input[0].value;
        if (k + 1 >= count)
            return input[k].value;
        const Knot &a = input[k], &b = input[k + 1];
        return a.value + (b.value - a.value) * (s - a.time) / (b.time - a.time);
    };
    double now = times[0], x = 0, v = valueAt(now - theta);
    size_t line = 1, knot = 0; // the next output's line, the next knot to reach
    while (knot < count && input[knot].time + theta <= now)
        ++knot;
    while (line < n) {
        const bool atKnot = knot < count && input[knot].time + theta <= times[line];
        const double at = atKnot ? input[knot].time + theta : times[line];
        // Reaching a knot from its left, the input is the knot's value.
        const double reached = atKnot ? input[knot].value : valueAt(at - theta);
        const double h = at - now;
        if (h > 0) {
            const double slope = (reached - v) / h;
            // x(at) = x + (1 − e^(−h/tau))·(v − tau·slope − x) + slope·h, in a form that stays
            // exact for h much shorter than tau.
            x += -std::expm1(-h / tau) * (v - tau * slope - x) + slope * h;
        }
        now = at;
        v = reached;
        if (atKnot) { // past every knot at this time: after a jump, its value
            while (knot < count && input[knot].time + theta <= at)
                v = input[knot++].value;
        }
        while (line < n && times[line] <= at)
            (*out)[line++] = x;
    }
}

// The gain that fits best for this shape, and the squared error left.
struct Fitted
{
    double gain, error;
};

Fitted fitGain(const Deviations &d, const std::vector<double> &shape)
{
    double gy = 0, gg = 0, yy = 0;
    for (size_t i = 1; i < shape.size(); ++i) {
        gy += shape[i] * d.y[i];
        gg += shape[i] * shape[i];
        yy += d.y[i] * d.y[i];
    }
    if (!(gg > 0))
        return {0, yy};
    return {gy / gg, std::max(0.0, yy - gy * gy / gg)};
}

// Golden-section search for the minimum of f on [low, high]; returns the argument.
template<typename F> double goldenMinimum(double low, double high, double tolerance, F f)
{
    const double ratio = (std::sqrt(5.0) - 1) / 2;
    double a = low, b = high;
    double c = b - ratio * (b - a), d = a + ratio * (b - a);
    double fc = f(c), fd = f(d);
    while (b - a > tolerance) {
        if (fc <= fd) {
            b = d;
            d = c;
            fd = fc;
            c = b - ratio * (b - a);
            fc = f(c);
        } else {
            a = c;
            c = d;
            fc = fd;
            d = a + ratio * (b - a);
            fd = f(d);
        }
    }
    return fc <= fd ? c : d;
}

} // namespace

QString refusalText(const Identification &identification)
{
    switch (identification.refusal) {
    case Refusal::None:
        break;
    case Refusal::NoRest:
        return QStringLiteral("no line before the step: the rest it started from is unknown");
    case Refusal::TooFewLines:
        return QStringLiteral("fewer than 10 lines in the step");
    case Refusal::BadLine:
        return QStringLiteral("a line of the step without u or y, or out of time order");
    case Refusal::UNeverMoved:
        return QStringLiteral("u never moved");
    case Refusal::YNeverMoved:
        return QStringLiteral("y never moved");
    case Refusal::TooShort:
        return QStringLiteral("the step ended long before the response showed its time constant");
    case Refusal::TooLate:
        return QStringLiteral("the response began too late in the step to tell its dead time");
    case Refusal::PoorFit:
        return QStringLiteral("the model fits %1 %, less than the %2 % a tuning needs")
            .arg(identification.fit, 0, 'f', 1)
            .arg(kMinimumFit);
    }
    return {};
}

namespace {

// The mean u and y of the lines before the step: the rest it started from.
void restOf(const StepRecord &record, double *u0, double *y0)
{
    *u0 = *y0 = 0;
    for (size_t i = 0; i < record.first; ++i) {
        *u0 += record.u[i];
        *y0 += record.y[i];
    }
    *u0 /= double(record.first);
    *y0 /= double(record.first);
}

} // namespace

std::vector<double> fopdtResponse(const Fopdt &model, const StepRecord &record, double stepAt)
{
    const size_t n = record.time.size();
    std::vector<double> response(n, Fopdt::kNone);
    if (record.first == 0 || record.first >= n)
        return response;
    double u0, y0;
    restOf(record, &u0, &y0);
    Deviations d;
    for (size_t i = record.first - 1; i < n; ++i) {
        d.time.push_back(record.time[i]);
        d.u.push_back(record.u[i] - u0);
    }
    const double fraction = (stepAt - d.time[0]) / (d.time[1] - d.time[0]);
    std::vector<double> shape;
    unitResponse(d.time, knots(d, std::clamp(fraction, 0.0, 1.0)), model.tau, model.theta, &shape);
    for (size_t i = 0; i < record.first; ++i)
        response[i] = y0;
    for (size_t i = 1; i < shape.size(); ++i)
        response[record.first - 1 + i] = y0 + model.gain * shape[i];
    return response;
}

Identification identify(const StepRecord &record)
{
    Identification result;
    const size_t n = record.time.size();
    if (record.first == 0) {
        result.refusal = Refusal::NoRest;
        return result;
    }
    if (n < record.first + 10) {
        result.refusal = Refusal::TooFewLines;
        return result;
    }
    double u0, y0;
    restOf(record, &u0, &y0);
    double moved = 0, ySum = 0;
    for (size_t i = record.first; i < n; ++i) {
        if (!std::isfinite(record.u[i]) || !std::isfinite(record.y[i])
            || !std::isfinite(record.time[i]) || !(record.time[i] > record.time[i - 1])) {
            result.refusal = Refusal::BadLine;
            return result;
        }
        moved = std::max(moved, std::abs(record.u[i] - u0));
        ySum += record.y[i];
    }
    if (!(moved > 1e-9 * std::max(1.0, std::abs(u0)))) {
        result.refusal = Refusal::UNeverMoved;
        return result;
    }
    const double yMean = ySum / double(n - record.first);
    double spread = 0;
    for (size_t i = record.first; i < n; ++i)
        spread += (record.y[i] - yMean) * (record.y[i] - yMean);
    if (!(spread > 0)) {
        result.refusal = Refusal::YNeverMoved;
        return result;
    }

    // The search works on block means of at most kMaxFitLines lines, led by the last line at
    // rest and the step's first line, whose u is what jumped.
    Deviations d;
    for (size_t i : {record.first - 1, record.first}) {
        d.time.push_back(record.time[i]);
        d.u.push_back(record.u[i] - u0);
        d.y.push_back(record.y[i] - y0);
    }
    const size_t block = (n - record.first + kMaxFitLines - 1) / kMaxFitLines;
    for (size_t i = record.first + 1; i < n; i += block) {
        const size_t end = std::min(n, i + block);
        double t = 0, u = 0, y = 0;
        for (size_t j = i; j < end; ++j) {
            t += record.time[j];
            u += record.u[j];
            y += record.y[j];
        }
        const double count = double(end - i);
        d.time.push_back(t / count);
        d.u.push_back(u / count - u0);
        d.y.push_back(y / count - y0);
    }

    const double span = record.time[n - 1] - record.time[record.first - 1];
    const double logTauLow = std::log(1e-3 * span), logTauHigh = std::log(10 * span);
    const double thetaHigh = span / 2;
    std::vector<double> shape;
    std::vector<Knot> input = knots(d, 1);
    const auto error = [&](double tau, double theta) {
        unitResponse(d.time, input, tau, theta, &shape);
        return fitGain(d, shape).error;
    };
    // The best tau for a theta, and its error.
    const auto bestTau = [&](double theta, double *found) {
        const double logTau = goldenMinimum(logTauLow, logTauHigh, 1e-4, [&](double logTau) {
            return error(std::exp(logTau), theta);
        });
        *found = std::exp(logTau);
        return error(*found, theta);
    };
    const auto setFraction = [&](double fraction) {
        input = knots(d, fraction);
    };
    // The error need not have one minimum over theta (a dead time can stand for part of a lag),
    // so a grid first, over theta and over where in its first interval the step happened,
    // then golden-section searches beside the grid's best point.
    constexpr int kGrid = 30;
    constexpr int kFractions = 4;
    double least = HUGE_VAL, tau = 0, theta = 0, fraction = 0;
    for (int f = 0; f <= kFractions; ++f) {
        setFraction(double(f) / kFractions);
        for (int i = 0; i <= kGrid; ++i) {
            double found;
            const double e = bestTau(thetaHigh * i / kGrid, &found);
            if (e < least) {
                least = e;
                theta = thetaHigh * i / kGrid;
                fraction = double(f) / kFractions;
            }
        }
    }
    const auto betweenPoints = [&](double value, double step, double high) {
        return std::pair(std::max(0.0, value - step), std::min(high, value + step));
    };
    for (int round = 0; round < 2; ++round) {
        setFraction(fraction);
        const auto [thetaLow, thetaTop] = betweenPoints(theta, thetaHigh / kGrid, thetaHigh);
        theta = goldenMinimum(thetaLow, thetaTop, 1e-5 * span, [&](double candidate) {
            double found;
            return bestTau(candidate, &found);
        });
        const auto [low, high] = betweenPoints(fraction, 1.0 / kFractions, 1.0);
        fraction = goldenMinimum(low, high, 1e-3, [&](double candidate) {
            setFraction(candidate);
            double found;
            return bestTau(theta, &found);
        });
    }
    // Where the lines cannot tell when in its first interval the step happened (an open-loop
    // step of u shifts the same way with the step's instant as with the dead time), the middle
    // of the interval is the guess that is never off by more than half an interval. Kept
    // unless the placement found fits better by more than one line's noise.
    setFraction(fraction);
    least = bestTau(theta, &tau);
    if (fraction != 0.5) {
        const double noise = least / double(std::max<size_t>(1, d.time.size() - 5));
        setFraction(0.5);
        const auto [low, high] = betweenPoints(theta + (fraction - 0.5) * (d.time[1] - d.time[0]),
                                               thetaHigh / kGrid, thetaHigh);
        const double middle = goldenMinimum(low, high, 1e-5 * span, [&](double candidate) {
            double found;
            return bestTau(candidate, &found);
        });
        double found;
        if (bestTau(middle, &found) - least <= noise + 1e-8 * spread) {
            fraction = 0.5;
            theta = middle;
        }
    }
    setFraction(fraction);
    bestTau(theta, &tau);
    unitResponse(d.time, input, tau, theta, &shape);
    const Fitted fitted = fitGain(d, shape);

    const Fopdt model {fitted.gain, tau, theta};
    result.stepAt = d.time[0] + fraction * (d.time[1] - d.time[0]);
    result.response = fopdtResponse(model, record, result.stepAt);
    double residual = 0, top = -HUGE_VAL, bottom = HUGE_VAL;
    for (size_t i = record.first - 1; i < n; ++i) {
        top = std::max(top, result.response[i]);
        bottom = std::min(bottom, result.response[i]);
        if (i >= record.first)
            residual += (record.y[i] - result.response[i]) * (record.y[i] - result.response[i]);
    }
    result.fit = 100 * (1 - std::sqrt(residual / double(n - record.first)) / (top - bottom));
    if (tau > 0.99 * std::exp(logTauHigh)) {
        result.refusal = Refusal::TooShort;
    } else if (theta > 0.99 * thetaHigh) {
        result.refusal = Refusal::TooLate;
    } else if (!(result.fit >= kMinimumFit)) {
        result.refusal = Refusal::PoorFit;
    } else {
        result.model = model;
    }
    return result;
}

} // namespace pidtune::scope
