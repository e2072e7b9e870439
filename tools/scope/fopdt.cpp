// SPDX-License-Identifier: MIT
#include "fopdt.h"

#include <algorithm>
#include <cmath>

namespace pidtune::scope {

namespace {

// More lines than this are averaged in blocks before the search: each block is far shorter
// than any time constant the step can show, and the search's cost stays bounded.
constexpr size_t kMaxFitLines = 1500;

// The lines the search works on: u as a change from the first line's, so that the model starts
// at rest there; `first` is the step's first line.
struct FitLines
{
    std::vector<double> time, u, y;
    size_t first = 0;
};

// The input as straight lines between knots; two knots at one time make a jump.
struct Knot
{
    double time, value;
};

// u straight between lines but for the interval that ends at the step's first line: the step
// happened at one instant within it, at `fraction` of the way, which the lines do not tell
// (only when it arrived is known); the input holds before and after.
std::vector<Knot> knots(const FitLines &d, double fraction)
{
    std::vector<Knot> out;
    out.reserve(d.time.size() + 2);
    for (size_t i = 0; i < d.time.size(); ++i) {
        if (i == d.first) {
            const double at = d.time[i - 1] + fraction * (d.time[i] - d.time[i - 1]);
            out.push_back({at, d.u[i - 1]});
            out.push_back({at, d.u[i]});
        }
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

// y ≈ offset + K·g + initial·e^(−(t − t0)/tau) by least squares: the model's response g to u,
// where the plant's output sits at rest (offset, with K·u), and what is left of a state it was
// not at rest in when the lines begin.
struct Fitted
{
    double offset = 0, gain = 0, initial = 0, error = HUGE_VAL;
};

Fitted fitLinear(const FitLines &d, const std::vector<double> &g, double tau)
{
    double a[3][3] = {}, b[3] = {}, yy = 0;
    for (size_t i = 0; i < g.size(); ++i) {
        const double row[3] = {1, g[i], std::exp(-(d.time[i] - d.time[0]) / tau)};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                a[r][c] += row[r] * row[c];
            b[r] += row[r] * d.y[i];
        }
        yy += d.y[i] * d.y[i];
    }
    // A touch of ridge keeps the solution defined where two columns coincide (a tau so long
    // that its decay is a constant); it costs nothing measurable elsewhere.
    const double ridge = 1e-12 * (a[0][0] + a[1][1] + a[2][2]);
    for (int r = 0; r < 3; ++r)
        a[r][r] += ridge;
    double m[3][4];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            m[r][c] = a[r][c];
        m[r][3] = b[r];
    }
    for (int col = 0; col < 3; ++col) { // Gauss–Jordan with partial pivoting
        int pivot = col;
        for (int r = col + 1; r < 3; ++r) {
            if (std::abs(m[r][col]) > std::abs(m[pivot][col]))
                pivot = r;
        }
        if (!(std::abs(m[pivot][col]) > 0))
            return {};
        for (int c = 0; c < 4; ++c)
            std::swap(m[col][c], m[pivot][c]);
        for (int r = 0; r < 3; ++r) {
            if (r == col)
                continue;
            const double factor = m[r][col] / m[col][col];
            for (int c = col; c < 4; ++c)
                m[r][c] -= factor * m[col][c];
        }
    }
    Fitted fitted;
    fitted.offset = m[0][3] / m[0][0];
    fitted.gain = m[1][3] / m[1][1];
    fitted.initial = m[2][3] / m[2][2];
    // The error left: ‖y‖² − βᵀ·Aᵀy, from the normal equations.
    fitted.error
        = std::max(0.0, yy - fitted.offset * b[0] - fitted.gain * b[1] - fitted.initial * b[2]);
    return fitted;
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
    case Refusal::NoControl:
        return QStringLiteral("no line gave the controller's output (--control names it)");
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

// Block means of the lines from begin to end, at most `most` of them.
void addBlocks(const StepRecord &record, size_t begin, size_t end, size_t most, FitLines *d)
{
    if (end <= begin)
        return;
    const size_t block = (end - begin + most - 1) / most;
    for (size_t i = begin; i < end; i += block) {
        const size_t stop = std::min(end, i + block);
        double t = 0, u = 0, y = 0;
        for (size_t j = i; j < stop; ++j) {
            t += record.time[j];
            u += record.u[j];
            y += record.y[j];
        }
        const double count = double(stop - i);
        d->time.push_back(t / count);
        d->u.push_back(u / count - record.u[0]);
        d->y.push_back(y / count);
    }
}

} // namespace

Identification identify(const StepRecord &record)
{
    Identification result;
    const size_t n = record.time.size(), first = record.first;
    if (first == 0) {
        result.refusal = Refusal::NoRest;
        return result;
    }
    if (n < first + 10) {
        result.refusal = Refusal::TooFewLines;
        return result;
    }
    double u0 = 0;
    for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite(record.u[i]) || !std::isfinite(record.y[i])
            || !std::isfinite(record.time[i])
            || (i > 0 && !(record.time[i] > record.time[i - 1]))) {
            result.refusal = Refusal::BadLine;
            return result;
        }
        if (i < first)
            u0 += record.u[i] / double(first);
    }
    double moved = 0, yLow = HUGE_VAL, yHigh = -HUGE_VAL;
    for (size_t i = first; i < n; ++i) {
        moved = std::max(moved, std::abs(record.u[i] - u0));
        yLow = std::min(yLow, record.y[i]);
        yHigh = std::max(yHigh, record.y[i]);
    }
    if (!(moved > 1e-9 * std::max(1.0, std::abs(u0)))) {
        result.refusal = Refusal::UNeverMoved;
        return result;
    }
    if (!(yHigh > yLow)) {
        result.refusal = Refusal::YNeverMoved;
        return result;
    }

    // The search works on block means of at most kMaxFitLines lines in the step and a third
    // as many before it; the last line before and the step's first stay as they are, the u
    // between them being what jumped. Its grid runs on a tenth as many.
    const auto blocks = [&](size_t most) {
        FitLines lines;
        addBlocks(record, 0, first - 1, most / 3, &lines);
        addBlocks(record, first - 1, first + 1, 2, &lines);
        lines.first = lines.time.size() - 1;
        addBlocks(record, first + 1, n, most, &lines);
        return lines;
    };
    const FitLines fine = blocks(kMaxFitLines), coarse = blocks(kMaxFitLines / 10);
    const FitLines *d = &coarse;

    const double span = record.time[n - 1] - record.time[first - 1];
    const double logTauLow = std::log(1e-3 * span), logTauHigh = std::log(10 * span);
    const double thetaHigh = span / 2;
    std::vector<double> shape;
    std::vector<Knot> input;
    const auto error = [&](double tau, double theta) {
        unitResponse(d->time, input, tau, theta, &shape);
        return fitLinear(*d, shape, tau).error;
    };
    // The best tau for a theta, and its error.
    // Over the whole range first, then within a factor of two of the grid's best.
    double tauLow = logTauLow, tauHigh = logTauHigh;
    const auto bestTau = [&](double theta, double *found) {
        const double logTau = goldenMinimum(
            tauLow, tauHigh, 1e-4, [&](double logTau) { return error(std::exp(logTau), theta); });
        *found = std::exp(logTau);
        return error(*found, theta);
    };
    const auto setFraction = [&](double fraction) {
        input = knots(*d, fraction);
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
    d = &fine;
    {
        setFraction(fraction);
        bestTau(theta, &tau);
        tauLow = std::max(logTauLow, std::log(tau) - std::log(2.0));
        tauHigh = std::min(logTauHigh, std::log(tau) + std::log(2.0));
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
    setFraction(fraction);
    least = bestTau(theta, &tau);
    // Where the lines cannot tell when in its first interval the step happened (an open-loop
    // step of u shifts the same way with the step's instant as with the dead time), the middle
    // of the interval is the guess that is never off by more than half an interval. Kept
    // unless the placement found fits better by more than one line's noise.
    if (fraction != 0.5) {
        const double noise = least / double(std::max<size_t>(1, d->time.size() - 6));
        const double interval = d->time[d->first] - d->time[d->first - 1];
        setFraction(0.5);
        const auto [low, high]
            = betweenPoints(theta + (fraction - 0.5) * interval, thetaHigh / kGrid, thetaHigh);
        const double middle = goldenMinimum(low, high, 1e-5 * span, [&](double candidate) {
            double found;
            return bestTau(candidate, &found);
        });
        double found;
        double scale = 0;
        for (double y : d->y)
            scale += (y - d->y[0]) * (y - d->y[0]);
        if (bestTau(middle, &found) - least <= noise + 1e-8 * scale) {
            fraction = 0.5;
            theta = middle;
        }
    }
    setFraction(fraction);
    bestTau(theta, &tau);
    unitResponse(d->time, input, tau, theta, &shape);
    const Fitted fitted = fitLinear(*d, shape, tau);

    // The model's response at every line, from the lines themselves.
    FitLines all;
    addBlocks(record, 0, n, n, &all);
    all.first = first;
    result.stepAt
        = record.time[first - 1] + fraction * (record.time[first] - record.time[first - 1]);
    unitResponse(all.time, knots(all, fraction), tau, theta, &shape);
    result.response.resize(n);
    double residual = 0, top = -HUGE_VAL, bottom = HUGE_VAL;
    for (size_t i = 0; i < n; ++i) {
        result.response[i] = fitted.offset + fitted.gain * shape[i]
            + fitted.initial * std::exp(-(record.time[i] - record.time[0]) / tau);
        if (i + 1 < first)
            continue;
        top = std::max(top, result.response[i]);
        bottom = std::min(bottom, result.response[i]);
        if (i >= first)
            residual += (record.y[i] - result.response[i]) * (record.y[i] - result.response[i]);
    }
    result.fit = 100 * (1 - std::sqrt(residual / double(n - first)) / (top - bottom));
    const Fopdt model {fitted.gain, tau, theta};
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
