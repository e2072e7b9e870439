// SPDX-License-Identifier: MIT
// pidtune-scope: the step figures against the truths of known responses (first and second order,
// PI loops that creep), also with sensor noise, whole counts, set-point ramps and print jitter,
// steps cut short, and device clocks that wrap, repeat or go back.
#include "telemetry.h"

#include <QtTest>

#include <cmath>
#include <random>

using namespace pidtune::scope;

namespace {

// A loop's unit step response g(s): 0 at the step, 1 at its end.
struct Model
{
    enum Kind { FirstOrder, SecondOrder, SlowTail, PI } kind;
    double a, b; // tau; zeta, omega; -; Kp, Ki on the plant 1/(0.5 s + 1)

    double operator()(double s) const
    {
        switch (kind) {
        case FirstOrder:
            return 1 - std::exp(-s / a);
        case SecondOrder: {
            const double root = std::sqrt(1 - a * a);
            return 1 - std::exp(-a * b * s) / root * std::sin(b * root * s + std::acos(a));
        }
        case SlowTail: // a PI loop whose zero nearly cancels a pole
            return 1 - 1.1 * std::exp(-s / 0.08) + 0.1 * std::exp(-s / 0.5);
        case PI: { // (a s + b) / (0.5 s^2 + (1 + a) s + b), its two real poles
            const double root = std::sqrt((1 + a) * (1 + a) - 2 * b);
            const double p1 = -(1 + a) + root, p2 = -(1 + a) - root;
            return 1 + (a * p1 + b) / (0.5 * p1 * (p1 - p2)) * std::exp(p1 * s)
                + (a * p2 + b) / (0.5 * p2 * (p2 - p1)) * std::exp(p2 * s);
        }
        }
        return 0;
    }
};

// What is done to the set-point or the clock after the step at 1 s; or 32 other series first.
// Disturbed: a new gain moved the response 0.4 s before the step (tau 50 ms).
enum Event { Step, Ramp, Jitter, NextStep, TimeBack, Restart, Crowded, Disturbed };

} // namespace

Q_DECLARE_METATYPE(Model)
Q_DECLARE_METATYPE(Event)
Q_DECLARE_METATYPE(Cut)

class ScopeStepsTest : public QObject
{
    Q_OBJECT

private slots:
    void measuresSteps_data();
    void measuresSteps();
};

void ScopeStepsTest::measuresSteps_data()
{
    QTest::addColumn<Model>("model");
    QTest::addColumn<QVector<double>>("loop"); // set-point from, to; loop gain; noise; count
    QTest::addColumn<QVector<double>>("lines"); // period us, offset us, first t (ms), seconds
    QTest::addColumn<Event>("event");
    QTest::addColumn<QVector<double>>("within"); // rise, settling (fractions); overshoot (points)
    QTest::addColumn<Cut>("cut"); // of the first step's line
    QTest::addColumn<int>("steps"); // lines printed
    const Model first {Model::FirstOrder, 0.25, 0}, fast {Model::FirstOrder, 0.1, 0},
        ringing {Model::SecondOrder, 0.5, 2 * M_PI};
    const QVector<double> clean {0.02, 0.02, 0.5}, noisy {0.1, 0.25, 2.5};
    const auto row = [](const char *name) {
        return &QTest::newRow(name);
    };
    // clang-format off
    *row("first order, 10 lines/s: crossings between lines") << first << QVector<double> {0, 50, 5.0 / 6, 0, 0} << QVector<double> {100000, 0, 0, 20} << Step << clean << Cut::None << 1;
    *row("ringing, the step between lines") << ringing << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {60000, 30000, 0, 20} << Step << clean << Cut::None << 1;
    *row("slow tail: in the band of a value it then leaves") << Model {Model::SlowTail, 0, 0} << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {20000, 0, 0, 20} << Step << clean << Cut::None << 1;
    *row("down from a level: 80 to 30, ringing") << ringing << QVector<double> {80, 30, 1, 0, 0} << QVector<double> {10000, 0, 0, 20} << Step << clean << Cut::None << 1;
    *row("2 % noise") << fast << QVector<double> {0, 50, 1, 0.02, 0} << QVector<double> {1000, 0, 0, 5} << Step << noisy << Cut::None << 1;
    *row("2 % noise, ringing, from -20") << Model {Model::SecondOrder, 0.45, 2 * M_PI} << QVector<double> {-20, 30, 1, 0.02, 0} << QVector<double> {1000, 0, 0, 8} << Step << noisy << Cut::None << 1;
    *row("0.5 % noise") << fast << QVector<double> {0, 50, 1, 0.005, 0} << QVector<double> {1000, 0, 0, 5} << Step << noisy << Cut::None << 1;
    *row("whole counts: 20 with one count of dither") << fast << QVector<double> {0, 20, 1, 0.025, 1} << QVector<double> {1000, 0, 0, 5} << Step << QVector<double> {0.15, 0.25, 2.5} << Cut::None << 1;
    *row("PI creep: Kp 10, Ki 1") << Model {Model::PI, 10, 1} << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {20000, 0, 0, 70} << Step << QVector<double> {0.15, 0.15, 0.5} << Cut::None << 1;
    *row("PI creep: Kp 20, Ki 2") << Model {Model::PI, 20, 2} << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {20000, 0, 0, 40} << Step << QVector<double> {0.15, 0.15, 0.5} << Cut::None << 1;
    *row("a new gain's transient just before the step") << fast << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {20000, 0, 0, 10} << Disturbed << clean << Cut::None << 1;
    *row("set-point printed from a float: 49.99999, 50.00001") << first << QVector<double> {0, 50, 5.0 / 6, 0, 0} << QVector<double> {10000, 0, 0, 10} << Jitter << clean << Cut::None << 1;
    *row("a ramp over a second: one step") << fast << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {1000, 0, 0, 10} << Ramp << QVector<double> {} << Cut::None << 1;
    *row("cut by the next step 200 ms later") << first << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {1000, 0, 0, 10} << NextStep << QVector<double> {} << Cut::NextStep << 2;
    *row("cut by the clock going back 0.5 ms") << first << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {1000, 0, 0, 10} << TimeBack << QVector<double> {} << Cut::TimeBack << 1;
    *row("cut by the source's end") << first << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {1000, 0, 0, 1.4} << Step << QVector<double> {} << Cut::SourceEnded << 1;
    *row("a restart after the step: no step back to 0") << fast << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {1000, 0, 0, 10} << Restart << clean << Cut::None << 1;
    *row("sp and y after 32 other series") << first << QVector<double> {0, 50, 5.0 / 6, 0, 0} << QVector<double> {100000, 0, 0, 20} << Crowded << clean << Cut::None << 1;
    *row("a 32-bit millisecond counter wraps") << first << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {10000, 0, 4294967296.0 - 1500, 10} << Step << clean << Cut::None << 1;
    *row("a 16-bit one, two lines a millisecond") << first << QVector<double> {0, 50, 1, 0, 0} << QVector<double> {500, 0, 65536 - 1500, 10} << Step << clean << Cut::None << 1;
    // clang-format on
}

void ScopeStepsTest::measuresSteps()
{
    QFETCH(Model, model);
    QFETCH(QVector<double>, loop);
    QFETCH(QVector<double>, lines);
    QFETCH(Event, event);
    QFETCH(QVector<double>, within);
    QFETCH(Cut, cut);
    QFETCH(int, steps);
    const double from = loop[0], to = loop[1], gain = loop[2], way = (to - from) * gain;
    Telemetry telemetry({"t", 1e-3, "sp", "y"});
    QList<StepMetrics> measured;
    connect(&telemetry, &Telemetry::stepMeasured,
            [&](const StepMetrics &step) { measured << step; });
    std::mt19937 random(5);
    const auto uniform = [&] {
        return (double(random()) + 0.5) / 4294967296.0;
    };
    const auto response = [&](double s) {
        return s < 0 ? 0 : model(s);
    };
    // To a ramp of one second, from a first-order loop: the ramp's response less its delayed self.
    const auto ramp = [&](double s) {
        return s < 0 ? 0 : s - model.a + model.a * std::exp(-s / model.a);
    };
    QByteArray crowd;
    for (int series = 0; series < 32; ++series)
        crowd += "s" + QByteArray::number(series) + "=0 ";
    const double clock = lines[2];
    double stepTime = qQNaN(), stepMs = qQNaN();
    for (qint64 at = qint64(lines[1]); at < lines[3] * 1e6; at += qint64(lines[0])) {
        const double time = at / 1e6, since = time - 1;
        double setpoint = since < 0 ? from : to;
        double y = from * gain + way * response(since);
        double ms = std::floor(clock + at / 1000.0);
        if (event == Ramp) {
            setpoint = from + (to - from) * std::clamp(since, 0.0, 1.0);
            y = way * (ramp(since) - ramp(since - 1));
        } else if (event == Jitter && since >= 0) {
            setpoint += (at / qint64(lines[0])) % 2 ? 1e-5 : -1e-5;
        } else if (event == NextStep && since >= 0.2) {
            setpoint = from;
            y -= way * response(since - 0.2);
        } else if (event == TimeBack && since >= 0.3) {
            ms -= 1.5; // 0.5 ms before the line before
        } else if (event == Disturbed && since < 0) {
            y -= 0.3 * way * (time < 0.6 ? 1 : std::exp((0.6 - time) / 0.05));
        } else if (event == Restart && since >= 4) {
            ms -= 5000;
            setpoint = y = 0;
        }
        if (loop[3] > 0) // Gaussian noise, as a fraction of the way
            y += loop[3] * std::abs(way) * std::sqrt(-2 * std::log(uniform()))
                * std::cos(2 * M_PI * uniform());
        if (loop[4] > 0)
            y = std::round(y / loop[4]) * loop[4];
        if (std::isnan(stepTime) && setpoint != from) {
            stepTime = time;
            stepMs = ms;
        }
        telemetry.feed((event == Crowded ? crowd : QByteArray())
                       + QStringLiteral("t=%1 sp=%2 y=%3\n")
                             .arg(std::fmod(ms, clock >= 65536 ? 4294967296.0 : 65536.0), 0, 'f', 1)
                             .arg(setpoint, 0, 'g', 17)
                             .arg(y, 0, 'g', 17)
                             .toLatin1());
    }
    telemetry.finish();
    QCOMPARE(measured.size(), steps);
    const StepMetrics &step = measured.first();
    qInfo("%s", qPrintable(stepLine(step)));
    QCOMPARE(step.cut, cut);
    QCOMPARE(step.from, from);
    QVERIFY(std::abs(step.to - to) <= 2e-5);
    QCOMPARE(step.time, stepMs / 1000);
    if (cut != Cut::None) {
        QVERIFY(std::isnan(step.settling) && std::isnan(step.error));
        return;
    }
    // 2 % of the way, or half a count where that is finer than the sensor resolves.
    QVERIFY(std::abs(step.band / std::max(0.02 * std::abs(way), loop[4] / 2) - 1) <= 0.01);
    if (event == Ramp) {
        QCOMPARE(step.ramp, 1 - lines[0] / 1e6);
        QVERIFY(std::isfinite(step.settling));
        return;
    }
    // The truth: the noise-free response, its crossings found 10 us apart.
    double at10 = qQNaN(), at90 = qQNaN(), peak = 0, settled = 0;
    for (double s = 0; s < lines[3]; s += 1e-5) {
        const double g = model(s);
        if (std::isnan(at10) && g >= 0.1)
            at10 = s;
        if (std::isnan(at90) && g >= 0.9)
            at90 = s;
        peak = std::max(peak, g);
        if (std::abs(g - 1) > 0.02)
            settled = s;
    }
    const double offset = stepTime - 1; // the step's first line after the set-point's change
    QVERIFY2(std::abs(step.rise / (at90 - at10) - 1) <= within[0],
             qPrintable(QString::number(at90 - at10)));
    QVERIFY2(std::abs((settled - offset) / step.settling - 1) <= within[1],
             qPrintable(QString::number(settled - offset)));
    QVERIFY2(std::abs(step.overshoot - (peak - 1) * 100) <= within[2],
             qPrintable(QString::number((peak - 1) * 100)));
    QVERIFY2(std::abs(step.error - (to - to * gain)) <= 0.01 * std::abs(to - from),
             qPrintable(QString::number(to - to * gain)));
}

QTEST_MAIN(ScopeStepsTest)
#include "tst_scope_steps.moc"
