// SPDX-License-Identifier: MIT
#include "tuning.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <deque>

namespace pidtune::scope {

namespace {

constexpr double kPi = 3.14159265358979323846;

QString four(double value)
{
    return QString::number(value, 'g', 4);
}

// Kp·(1 + 1/(Ti·s) + Td·s), Ti infinite for no integral action.
Pid ideal(double kp, double ti, double td)
{
    Pid pid;
    pid.kp = kp;
    pid.ki = std::isfinite(ti) ? kp / ti : 0;
    pid.kd = kp * td;
    return pid;
}

// Kc·(1 + 1/(taui·s))·(1 + taud·s) = Kc·(1 + taud/taui) + Kc/(taui·s) + Kc·taud·s.
Pid series(double kc, double taui, double taud)
{
    Pid pid;
    pid.kp = kc * (1 + taud / taui);
    pid.ki = kc / taui;
    pid.kd = kc * taud;
    return pid;
}

// The loop as the device runs it, once a period h: the plant held between periods with its
// dead time of m periods and a fraction (G), and the controller's feedback path (C: the
// integral summed, the derivative of y differenced, the output filtered).
struct DiscreteLoop
{
    double a, newer, older; // y[k+1] = a·y[k] + newer·u[k−m] + older·u[k−m−1]
    size_t whole; // m
    double h;

    DiscreteLoop(const Fopdt &model, double period) : h(period)
    {
        whole = size_t(std::floor(model.theta / h));
        const double delta = model.theta - double(whole) * h;
        a = model.tau > 0 ? std::exp(-h / model.tau) : 0;
        const double rest = model.tau > 0 ? std::exp(-(h - delta) / model.tau) : 0;
        newer = model.gain * (1 - rest);
        older = model.gain * (rest - a);
    }

    // max |1/(1 + L(z))| on the unit circle, up to half the loop's rate.
    double maxSensitivity(const Pid &pid) const
    {
        using complex = std::complex<double>;
        constexpr int kPoints = 20000;
        double most = 0;
        for (int i = 1; i <= kPoints; ++i) {
            const double w = kPi * std::pow(1e-6, 1 - double(i) / kPoints); // ωh, log-spaced
            const complex back = std::polar(1.0, -w); // z^−1
            const complex g
                = (newer + older * back) * std::pow(back, double(whole) + 1) / (1.0 - a * back);
            const double alpha = h / (pid.filter + h);
            const complex c = (pid.kp + pid.ki * h / (1.0 - back) + pid.kd * (1.0 - back) / h)
                * alpha / (1.0 - (1 - alpha) * back);
            most = std::max(most, 1 / std::abs(1.0 + c * g));
        }
        return most;
    }
};

} // namespace

bool parsePidForm(const QString &text, PidForm *form)
{
    if (text == QLatin1String("parallel"))
        *form = PidForm::Parallel;
    else if (text == QLatin1String("ideal"))
        *form = PidForm::Ideal;
    else if (text == QLatin1String("series"))
        *form = PidForm::Series;
    else
        return false;
    return true;
}

QString gainsText(const Pid &pid, PidForm form)
{
    const QString filter = four(pid.filter);
    if (form == PidForm::Parallel)
        return QStringLiteral("Kp=%1 Ki=%2 Kd=%3 filter=%4")
            .arg(four(pid.kp), four(pid.ki), four(pid.kd), filter);
    double kp = pid.kp, ti = pid.ki != 0 ? pid.kp / pid.ki : HUGE_VAL,
           td = pid.kp != 0 ? pid.kd / pid.kp : 0;
    if (form == PidForm::Series) {
        // Kc² − Kp·Kc + Ki·Kd = 0: the larger root, which is Kp without derivative action.
        double root = pid.kp * pid.kp - 4 * pid.ki * pid.kd;
        if (root < 0 && root > -1e-9 * pid.kp * pid.kp)
            root = 0; // Ti = 4·Td exactly, as Ziegler–Nichols' PID, short of rounding
        kp = root >= 0 ? (pid.kp + std::sqrt(root)) / 2 : StepMetrics::kNone;
        ti = pid.ki != 0 ? kp / pid.ki : HUGE_VAL;
        td = kp != 0 ? pid.kd / kp : StepMetrics::kNone;
    }
    return QStringLiteral("Kp=%1 Ti=%2 Td=%3 filter=%4").arg(four(kp), four(ti), four(td), filter);
}

Pid simcPi(const Fopdt &model, double tauc)
{
    const double kc = model.tau / (model.gain * (tauc + model.theta));
    return series(kc, std::min(model.tau, 4 * (tauc + model.theta)), 0);
}

Pid simcPid(const Fopdt &model, double tauc)
{
    const double taud = model.theta / 3;
    Pid pid = series(model.tau / (model.gain * (tauc + model.theta)),
                     std::min(model.tau, 4 * (tauc + model.theta)), taud);
    pid.filter = taud / 10;
    return pid;
}

double defaultTauc(const Fopdt &model)
{
    return std::max(model.theta, model.tau / 2);
}

double ultimateGain(double d, double a)
{
    return 4 * d / (kPi * a);
}

Pid zieglerNicholsPi(double ku, double tu)
{
    return ideal(0.45 * ku, tu / 1.2, 0);
}

Pid zieglerNicholsPid(double ku, double tu)
{
    Pid pid = ideal(0.6 * ku, tu / 2, tu / 8);
    pid.filter = tu / 80;
    return pid;
}

Pid tyreusLuybenPi(double ku, double tu)
{
    return ideal(ku / 3.2, 2.2 * tu, 0);
}

Pid tyreusLuybenPid(double ku, double tu)
{
    Pid pid = ideal(ku / 2.2, 2.2 * tu, tu / 6.3);
    pid.filter = tu / 63;
    return pid;
}

Prediction predictStep(const Fopdt &model, const Pid &pid, double period, double from, double to)
{
    Prediction prediction;
    const double way = to - from;
    const double h = period;
    if (!(h > 0) || !(model.tau >= 0) || !(model.theta >= 0) || !std::isfinite(model.gain)
        || !(way != 0))
        return prediction;
    const DiscreteLoop loop(model, h);
    std::deque<double> outputs(loop.whole + 2, 0.0); // u of k − m − 1 ... k, in deviations

    // Long enough for the slowest part of a reasonable loop to settle; the tracker ends it
    // sooner.
    const double horizon
        = 60 * (model.tau + model.theta) + 60 * (pid.ki != 0 ? pid.kp / pid.ki : 0) + 100 * h;
    const auto steps = size_t(std::min(2e6, horizon / h));
    const size_t everyLine = std::max<size_t>(1, steps / 20000);
    const size_t everyPoint = std::max<size_t>(1, steps / 600);

    StepTracker tracker;
    for (int i = -20; i < 0; ++i)
        tracker.add(i * h * double(everyLine), from, from);
    double y = 0, previous = 0, integral = 0, u = 0, peak = 0;
    std::optional<StepMetrics> figures;
    for (size_t k = 0; k <= steps && !figures; ++k) {
        const double time = double(k) * h;
        if (k % everyPoint == 0) {
            prediction.time.push_back(time);
            prediction.y.push_back(from + y);
            prediction.u.push_back(u);
        }
        if (k % everyLine == 0)
            figures = tracker.add(time, to, from + y);
        if (!(std::abs(y) < 1e6 * std::abs(way))) {
            prediction.sensitivity = HUGE_VAL; // it ran away: unstable
            return prediction;
        }
        const double error = way - y;
        integral += pid.ki * error * h;
        const double wanted = pid.kp * error + integral - pid.kd * (y - previous) / h;
        u += h / (pid.filter + h) * (wanted - u);
        peak = std::max(peak, std::abs(u));
        outputs.pop_front();
        outputs.push_back(u);
        previous = y;
        y = loop.a * y + loop.newer * outputs[1] + loop.older * outputs[0];
    }
    if (!figures)
        figures = tracker.cut(Cut::SourceEnded); // not settled within the horizon
    if (figures)
        prediction.figures = *figures;
    prediction.outputSwing = peak;
    prediction.sensitivity = loop.maxSensitivity(pid);
    return prediction;
}

} // namespace pidtune::scope
