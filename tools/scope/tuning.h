// SPDX-License-Identifier: MIT
#pragma once

#include "fopdt.h"
#include "stepmetrics.h"

#include <QString>

#include <vector>

namespace pidtune::scope {

// A PID in the form the example firmware runs once a period h:
//   u = Kp·e + Ki·∫e dt − Kd·dy/dt, then a low-pass filter of time constant `filter` on u,
// the derivative taken of the measurement y by the difference over one period.
struct Pid
{
    double kp = 0, ki = 0, kd = 0, filter = 0;
};

// How a device writes its PID; the gains are printed in its terms.
enum class PidForm {
    Parallel, // Kp + Ki/s + Kd·s: the example firmware's ("Kp= Ki= Kd=")
    Ideal, // Kp·(1 + 1/(Ti·s) + Td·s) ("Kp= Ti= Td=")
    Series, // Kp·(1 + 1/(Ti·s))·(1 + Td·s) ("Kp= Ti= Td=")
};
bool parsePidForm(const QString &text, PidForm *form);
// "Kp=2 Ki=4 Kd=0 filter=0" in the form's terms, 4 significant digits. A PID that the series
// form cannot write (Ti < 4·Td in the ideal form) gets nan there.
QString gainsText(const Pid &pid, PidForm form);

// SIMC (Skogestad 2003) for a first-order-plus-dead-time model and a closed-loop time
// constant tauc: Kc = (1/K)·tau/(tauc + theta), Ti = min(tau, 4·(tauc + theta)).
// The PID adds a series derivative Td = theta/3, which the improved SIMC rule gives a model of
// this kind (Grimholt and Skogestad 2018), filtered by Td/10.
Pid simcPi(const Fopdt &model, double tauc);
Pid simcPid(const Fopdt &model, double tauc);
// The default tauc: SIMC's "tight" choice theta, but no less than tau/2, so that a model
// with little dead time does not ask the actuator for more than twice the step at once, nor
// stake the loop on a dead time measured to a line or two.
double defaultTauc(const Fopdt &model);

// From a relay's limit cycle: the ultimate gain Ku = 4d/(π·a) of a relay of amplitude d whose
// cycle has amplitude a, and its period Tu (Åström and Hägglund 1984).
double ultimateGain(double d, double a);
// Ziegler and Nichols (1942): PI Kp = 0.45·Ku, Ti = Tu/1.2; PID Kp = 0.6·Ku, Ti = Tu/2,
// Td = Tu/8. Tyreus and Luyben (1992), gentler: PI Kp = Ku/3.2, Ti = 2.2·Tu; PID Kp = Ku/2.2,
// Ti = 2.2·Tu, Td = Tu/6.3.
Pid zieglerNicholsPi(double ku, double tu);
Pid zieglerNicholsPid(double ku, double tu);
Pid tyreusLuybenPi(double ku, double tu);
Pid tyreusLuybenPid(double ku, double tu);

// The model in closed loop with the PID, run as the firmware runs it (once a period, the
// plant exact between periods for the held output, its dead time included to the fraction
// of a period), for a set-point step from `from` to `to` at time 0. The integral and the
// output are not limited: the prediction holds while the device's limits do not bind.
struct Prediction
{
    std::vector<double> time, y, u; // from the step on, thinned to a few hundred points
    StepMetrics figures; // measured on the whole run as a step line measures a device's
    double outputSwing = StepMetrics::kNone; // how far u moves from its rest at most
    // The loop's maximum sensitivity max |1/(1 + L)| over the frequencies its period can
    // carry, L the discrete loop as run: 1.4–1.7 is robust, above 2 the loop is near
    // instability; infinite when the run ran away (the figures are then NaN).
    double sensitivity = StepMetrics::kNone;
};
Prediction predictStep(const Fopdt &model, const Pid &pid, double period, double from, double to);

} // namespace pidtune::scope
