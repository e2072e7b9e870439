// SPDX-License-Identifier: MIT
// pidtune-scope's tuning: the model identified from analytic first-order-plus-dead-time steps
// with noise, open and closed loop; SIMC against Skogestad's worked example; the relay's rules
// against an autotune log; the relay's cycle found in the exact cycle of a plant with dead time;
// the predicted step of a loop whose response is known; the scope's lines and panel built on
// them.
#include "fopdt.h"
#include "relaycycle.h"
#include "telemetry.h"
#include "tuning.h"
#include "tuningpanel.h"

#include <QComboBox>
#include <QSlider>
#include <QtTest>

#include <cmath>
#include <random>

using namespace pidtune::scope;

Q_DECLARE_METATYPE(pidtune::scope::Refusal)

namespace {

bool within(double value, double truth, double tolerance)
{
    return std::abs(value - truth) <= tolerance;
}

} // namespace

class ScopeTuningTest : public QObject
{
    Q_OBJECT

private slots:
    void identifies_data();
    void identifies();
    void rules_data();
    void rules();
    void findsTheRelaysCycle_data();
    void findsTheRelaysCycle();
    void predictsTheStep_data();
    void predictsTheStep();
    void modelsEachStep_data();
    void modelsEachStep();
    void panelFollowsTheOperator();
};

void ScopeTuningTest::identifies_data()
{
    // 0 open loop, 1 closed loop with Kp 1, 2 y only noise, 3 u never moves, 4 open loop from
    // half way, 2 s before the lines begin
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("theta");
    QTest::addColumn<double>("interval"); // s between lines
    QTest::addColumn<double>("stepAt"); // s, the lines' first is at 0
    QTest::addColumn<double>("noise"); // standard deviation, in parts of y's way
    QTest::addColumn<Refusal>("refusal");
    // K 2, tau 1 s throughout. The instant of an open-loop step within its line interval
    // cannot be told from the dead time: theta is known to half an interval.
    QTest::newRow("open loop, 1 % noise") << 0 << 0.2 << 0.01 << 1.0 << 0.01 << Refusal::None;
    QTest::newRow("open loop, 1 % noise, between lines")
        << 0 << 0.2 << 0.01 << 1.003 << 0.01 << Refusal::None;
    QTest::newRow("open loop, 50 lines/s, no noise")
        << 0 << 0.2 << 0.02 << 1.01 << 0.0 << Refusal::None;
    // u = Kp·(sp − y) fits y = sp − u/Kp exactly without any lag: only the set-point's step,
    // from rest, tells the plant from the controller's inverse.
    QTest::newRow("closed loop, 1 % noise") << 1 << 0.0 << 0.02 << 1.005 << 0.01 << Refusal::None;
    // Not at rest when the lines begin: y still rising from a step of u before them.
    QTest::newRow("open loop, not at rest before")
        << 4 << 0.2 << 0.01 << 1.0 << 0.01 << Refusal::None;
    QTest::newRow("y is noise") << 2 << 0.0 << 0.01 << 1.0 << 0.01 << Refusal::PoorFit;
    QTest::newRow("u never moved") << 3 << 0.2 << 0.01 << 1.0 << 0.01 << Refusal::UNeverMoved;
    QTest::newRow("no rest before") << 0 << 0.2 << 0.01 << -1.0 << 0.0 << Refusal::NoRest;
    QTest::newRow("too short for tau") << 0 << 0.0 << 0.001 << 1.0 << 0.0 << Refusal::TooShort;
}

void ScopeTuningTest::identifies()
{
    QFETCH(int, kind);
    QFETCH(double, theta);
    QFETCH(double, interval);
    QFETCH(double, stepAt);
    QFETCH(double, noise);
    QFETCH(Refusal, refusal);
    const double gain = 2, tau = refusal == Refusal::TooShort ? 1000 : 1, kp = 1;
    const double duration = refusal == Refusal::TooShort ? 1.05 : 8;
    std::mt19937 random(7);
    const double way = kind == 1 ? gain * kp / (1 + gain * kp) : gain;
    std::normal_distribution<double> sensor(0, noise * way);
    StepRecord record;
    for (int i = 0; i * interval < duration; ++i) {
        const double t = i * interval, since = t - stepAt;
        double u = since >= 0 && kind != 3 ? 1 : 0, y = 0;
        if (kind == 0 || kind == 4) {
            y = since > theta ? gain * (1 - std::exp(-(since - theta) / tau)) : 0;
        }
        if (kind == 4) { // u 0 -> 1 at −2 s, 1 -> 2 at the step
            u += 1;
            y += gain * (1 - std::exp(-(t + 2 - theta) / tau));
        } else if (kind == 1) { // a set-point step of 1, P control, no dead time
            y = since > 0
                ? gain * kp / (1 + gain * kp) * (1 - std::exp(-since * (1 + gain * kp) / tau))
                : 0;
            u = since >= 0 ? kp * (1 - y) : 0;
        }
        record.time.push_back(t);
        record.u.push_back(u);
        record.y.push_back(y + sensor(random));
        record.first += since < 0;
    }
    const Identification found = identify(record);
    QCOMPARE(found.refusal, refusal);
    if (refusal != Refusal::None)
        return;
    const Fopdt &model = found.model;
    const QString text = QStringLiteral("K %1 tau %2 theta %3 fit %4")
                             .arg(model.gain)
                             .arg(model.tau)
                             .arg(model.theta)
                             .arg(found.fit);
    QVERIFY2(within(model.gain, gain, 0.05 * gain) && within(model.tau, tau, 0.05 * tau),
             qPrintable(text));
    // Without noise, a step midway between lines is placed there, and theta is exact.
    QVERIFY2(within(model.theta, theta, noise > 0 ? std::max(0.05 * theta, interval / 2) : 1e-3),
             qPrintable(text));
    QVERIFY2(within(found.fit, 100 * (1 - noise), 0.3), qPrintable(text));
}

void ScopeTuningTest::rules_data()
{
    QTest::addColumn<QString>("rule");
    QTest::addColumn<QVector<double>>("input"); // K, tau, theta, tauc; or d, min, max, Tu
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("gains");
    // Skogestad (2003), the worked example: K 1, tau 10, theta 1, tauc 1 -> Kc 5, tauI 8.
    const QVector<double> example {1, 10, 1, 1};
    QTest::newRow("SIMC PI, series")
        << "simc-pi" << example << int(PidForm::Series) << "Kp=5 Ti=8 Td=0 filter=0";
    QTest::newRow("SIMC PI, parallel")
        << "simc-pi" << example << int(PidForm::Parallel) << "Kp=5 Ki=0.625 Kd=0 filter=0";
    QTest::newRow("SIMC PI, tauI = tau") << "simc-pi" << QVector<double> {2, 1, 0.2, 1}
                                         << int(PidForm::Ideal) << "Kp=0.4167 Ti=1 Td=0 filter=0";
    QTest::newRow("SIMC PID, series")
        << "simc-pid" << example << int(PidForm::Series) << "Kp=5 Ti=8 Td=0.3333 filter=0.03333";
    // A hot end's autotune, as Marlin's M303 prints it: bias 92 d 92 min 196.56 max 203.75
    // Ku 32.58 Tu 54.81, "Classic PID" Kp 19.55 Ki 0.71 Kd 133.94 (Ku = 4d/(π·(max − min)/2),
    // Kp = 0.6·Ku, Ki = 2·Kp/Tu, Kd = Kp·Tu/8). And a bed's: d 64, 58.71 to 61.38, Tu 28.7.
    QTest::newRow("Ziegler-Nichols, hot end")
        << "zn-pid" << QVector<double> {92, 196.56, 203.75, 54.81} << int(PidForm::Parallel)
        << "Kp=19.55 Ki=0.7134 Kd=133.9 filter=0.6851";
    QTest::newRow("Ziegler-Nichols, bed")
        << "zn-pid" << QVector<double> {64, 58.71, 61.38, 28.7} << int(PidForm::Parallel)
        << "Kp=36.62 Ki=2.552 Kd=131.4 filter=0.3588";
    QTest::newRow("Ziegler-Nichols PI") << "zn-pi" << QVector<double> {92, 196.56, 203.75, 54.81}
                                        << int(PidForm::Ideal) << "Kp=14.66 Ti=45.68 Td=0 filter=0";
    QTest::newRow("Tyreus-Luyben PI") << "tl-pi" << QVector<double> {92, 196.56, 203.75, 54.81}
                                      << int(PidForm::Ideal) << "Kp=10.18 Ti=120.6 Td=0 filter=0";
    QTest::newRow("Tyreus-Luyben PID")
        << "tl-pid" << QVector<double> {92, 196.56, 203.75, 54.81} << int(PidForm::Ideal)
        << "Kp=14.81 Ti=120.6 Td=8.7 filter=0.87";
}

void ScopeTuningTest::rules()
{
    QFETCH(QString, rule);
    QFETCH(QVector<double>, input);
    QFETCH(int, form);
    QFETCH(QString, gains);
    Pid pid;
    if (rule.startsWith(QLatin1String("simc"))) {
        const Fopdt model {input[0], input[1], input[2]};
        pid = rule == QLatin1String("simc-pi") ? simcPi(model, input[3]) : simcPid(model, input[3]);
    } else {
        const double ku = ultimateGain(input[0], (input[2] - input[1]) / 2), tu = input[3];
        pid = rule == QLatin1String("zn-pid") ? zieglerNicholsPid(ku, tu)
            : rule == QLatin1String("zn-pi")  ? zieglerNicholsPi(ku, tu)
            : rule == QLatin1String("tl-pi")  ? tyreusLuybenPi(ku, tu)
                                              : tyreusLuybenPid(ku, tu);
    }
    QCOMPARE(gainsText(pid, PidForm(form)), gains);
}

void ScopeTuningTest::findsTheRelaysCycle_data()
{
    QTest::addColumn<double>("theta");
    QTest::addColumn<double>("interval"); // s between lines
    // Of u: 0 a relay, 1 a sine (a loop oscillating), 2 a relay whose set-point steps with it,
    // 3 a relay after a second of u far above its levels, each line twice (as the example
    // firmware's state line repeats its stream line)
    QTest::addColumn<int>("shape");
    QTest::newRow("theta 0.1, 50 lines/s") << 0.1 << 0.02 << 0;
    QTest::newRow("theta 0.1, 1000 lines/s") << 0.1 << 0.001 << 0;
    QTest::newRow("theta 0.3, 30 lines/s") << 0.3 << 0.033 << 0;
    QTest::newRow("after a step, lines twice") << 0.1 << 0.02 << 3;
    QTest::newRow("not a relay: u a sine") << 0.1 << 0.02 << 1;
    QTest::newRow("not a relay: the set-point moves") << 0.1 << 0.02 << 2;
}

void ScopeTuningTest::findsTheRelaysCycle()
{
    QFETCH(double, theta);
    QFETCH(double, interval);
    QFETCH(int, shape);
    // The exact cycle of a relay of amplitude d around 0 on K/(tau·s + 1)·e^(−theta·s): u is +d
    // for half a period from a switch, y falls to −a for theta, then rises towards K·d and
    // crosses 0 at Tu/2; the second half mirrors the first.
    const double gain = 1, tau = 0.5, d = 10, bias = 30;
    const double a = gain * d * (1 - std::exp(-theta / tau));
    const double period = 2 * tau * std::log(2 * std::exp(theta / tau) - 1);
    const auto cycle = [&](double t, double *u) {
        double s = std::fmod(t, period), sign = 1;
        if (s >= period / 2) {
            s -= period / 2;
            sign = -1;
        }
        *u = bias + sign * d;
        if (shape == 1)
            *u = bias + d * std::sin(2 * M_PI * t / period);
        const double y = s < theta ? -gain * d * (1 - std::exp(-s / tau))
                                   : gain * d - (gain * d + a) * std::exp(-(s - theta) / tau);
        return sign * y;
    };
    RelayTracker tracker;
    std::optional<RelayCycle> found;
    for (double t = 0.0123 - (shape == 3); t < 20 * period && !found; t += interval) {
        double u;
        const double y = t < 0 ? 0 : cycle(t, &u);
        if (t < 0)
            u = bias + 10 * d;
        const double sp = shape == 2 ? (u > bias ? 1 : -1) : 0;
        found = tracker.add(t, sp, y, u);
        if (shape == 3 && !found)
            found = tracker.add(t, sp, y, u);
    }
    QCOMPARE(bool(found), shape == 0 || shape == 3);
    if (!found)
        return;
    QVERIFY2(within(found->a, a, 0.01 * a), qPrintable(QString::number(found->a)));
    QVERIFY2(within(found->period, period, 0.01 * period),
             qPrintable(QString::number(found->period)));
    QVERIFY(within(found->d, d, 1e-9) && within(found->bias, bias, 1e-9));
}

void ScopeTuningTest::predictsTheStep_data()
{
    QTest::addColumn<QVector<double>>("model"); // K, tau, theta
    QTest::addColumn<QVector<double>>("pid"); // Kp, Ki, Kd
    QTest::addColumn<double>("tau"); // the closed loop's, first-order
    QTest::addColumn<double>("error"); // steady state, in parts of the step
    // SIMC's PI cancels the plant's pole: the loop is first-order with tauc.
    const Fopdt plant {2, 1, 0};
    const Pid pi = simcPi(plant, 0.25);
    QTest::newRow("SIMC PI, tauc 0.25")
        << QVector<double> {2, 1, 0} << QVector<double> {pi.kp, pi.ki, 0} << 0.25 << 0.0;
    // P alone: tau/(1 + K·Kp), and 1/(1 + K·Kp) of the step left.
    QTest::newRow("P alone") << QVector<double> {2, 1, 0} << QVector<double> {2, 0, 0} << 0.2
                             << 0.2;
    // D on the measurement adds Kd·K to the plant's tau: (tau + K·Kd)/(1 + K·Kp).
    QTest::newRow("PD") << QVector<double> {1, 1, 0} << QVector<double> {2, 0, 0.2} << 0.4
                        << 1.0 / 3;
    // More D than a millisecond's difference of y can carry: K·Kd/h·(1 − e^(−h/tau)) = 1, so
    // the device's loop runs away at half its rate, though the continuous loop is stable.
    QTest::newRow("PD, too much D")
        << QVector<double> {2, 1, 0} << QVector<double> {2, 0, 0.5} << qInf() << 0.0;
}

void ScopeTuningTest::predictsTheStep()
{
    QFETCH(QVector<double>, model);
    QFETCH(QVector<double>, pid);
    QFETCH(double, tau);
    QFETCH(double, error);
    Pid controller;
    controller.kp = pid[0];
    controller.ki = pid[1];
    controller.kd = pid[2];
    const Prediction p = predictStep({model[0], model[1], model[2]}, controller, 0.001, 10, 20);
    const QString text = stepLine(p.figures);
    if (std::isinf(tau)) {
        QVERIFY2(std::isinf(p.sensitivity) && std::isnan(p.figures.rise), qPrintable(text));
        return;
    }
    QVERIFY2(within(p.figures.rise, std::log(9.0) * tau, 0.01 * tau), qPrintable(text));
    QVERIFY2(within(p.figures.overshoot, 0, 0.05), qPrintable(text));
    QVERIFY2(within(p.figures.error, 10 * error, 0.01), qPrintable(text));
    QVERIFY2(p.y.front() == 10 && within(p.y.back(), 20 - 10 * error, 0.02), qPrintable(text));
    // Without D, a first-order loop is about as robust as a loop gets.
    QVERIFY(p.sensitivity >= 1 && (p.sensitivity < 1.1 || controller.kd > 0));
}

void ScopeTuningTest::modelsEachStep_data()
{
    QTest::addColumn<bool>("openLoop");
    QTest::addColumn<QByteArray>("control"); // the series named for u
    QTest::addColumn<Refusal>("refusal");
    QTest::newRow("closed loop") << false << QByteArray("u") << Refusal::None;
    QTest::newRow("open loop, --open-loop") << true << QByteArray("u") << Refusal::None;
    QTest::newRow("no such series") << false << QByteArray("out") << Refusal::NoControl;
}

// Lines of the plant K 1, tau 0.5 s: under Kp 2 as the set-point steps 0 -> 30 -> 10, or open,
// as u steps 0 -> 2 -> 1.
void ScopeTuningTest::modelsEachStep()
{
    QFETCH(bool, openLoop);
    QFETCH(QByteArray, control);
    QFETCH(Refusal, refusal);
    TelemetrySettings settings;
    settings.timeField = "t";
    settings.control = control;
    settings.tuning.openLoop = openLoop;
    Telemetry telemetry(settings);
    std::vector<StepModel> models;
    connect(&telemetry, &Telemetry::stepModelled, this,
            [&](const StepModel &model) { models.push_back(model); });
    double y = 0;
    for (int ms = 0; ms < 9000; ms += 10) {
        const double level = ms < 1000 ? 0 : ms < 5000 ? 1 : 1.0 / 3;
        const double sp = openLoop ? 0 : 30 * level, u = openLoop ? 2 * level : 2 * (sp - y);
        telemetry.feed(
            QStringLiteral("t=%1 sp=%2 y=%3 u=%4\n").arg(ms).arg(sp).arg(y).arg(u).toLatin1());
        y += (u - y) * -std::expm1(-0.01 / 0.5); // exact for u held over the interval
    }
    telemetry.finish();
    QCOMPARE(models.size(), size_t(2));
    for (const StepModel &model : models) {
        QCOMPARE(model.identification.refusal, refusal);
        if (refusal == Refusal::None)
            QVERIFY2(within(model.identification.model.gain, 1, 0.02)
                         && within(model.identification.model.tau, 0.5, 0.01),
                     qPrintable(modelLine(model)));
    }
}

// Faster makes the gains larger, more robust smaller; a relay's rule waits for a relay.
void ScopeTuningTest::panelFollowsTheOperator()
{
    TuningPanel panel({});
    StepModel model;
    model.step.from = 0;
    model.step.to = 1;
    model.identification.model = {1, 0.5, 0.1};
    panel.showModel(model);
    const auto kp = [&] {
        return panel.chosen()->pid.kp;
    };
    const double middle = kp();
    QCOMPARE(middle, simcPi(model.identification.model, 0.25).kp); // tauc max(theta, tau/2)
    auto *tauc = panel.findChild<QSlider *>(QStringLiteral("tauc"));
    tauc->setValue(tauc->minimum());
    QVERIFY(kp() > middle);
    tauc->setValue(tauc->maximum());
    QVERIFY(kp() < middle);
    panel.findChild<QComboBox *>(QStringLiteral("rule"))->setCurrentIndex(2); // zn-pi
    QVERIFY(!panel.chosen());
}

QTEST_MAIN(ScopeTuningTest)
#include "tst_scope_tuning.moc"
