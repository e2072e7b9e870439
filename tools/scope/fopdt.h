// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <limits>
#include <vector>

namespace pidtune::scope {

// A first-order-plus-dead-time model of the plant, from its input u to its output y:
// tau·y'(t) = K·u(t − theta) − y(t), in deviations from a state of rest.
struct Fopdt
{
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double gain = kNone; // K, units of y per unit of u
    double tau = kNone; // s
    double theta = kNone; // s
};

// Lines of one step: time (s), the plant's input u and its output y. Those before `first` lead
// up to the step (the model starts from them, at rest or not); the step's own lines follow.
struct StepRecord
{
    std::vector<double> time, u, y;
    size_t first = 0;
};

// Why a step allows no model.
enum class Refusal {
    None,
    NoControl, // no line gave the controller's output u
    NoRest, // no line before the step: the rest it started from is unknown
    TooFewLines, // fewer than 10 lines in the step
    BadLine, // a line of the step without u or y, or out of time order
    UNeverMoved,
    YNeverMoved,
    TooShort, // the step ended long before the response showed its time constant
    TooLate, // the response began too late in the step to tell its dead time
    PoorFit, // the model fits less than kMinimumFit
};

// What identify() found: the model and how well its response to the measured u matches the
// measured y, or why the step allows no model (the model is then NaN).
struct Identification
{
    Fopdt model;
    // 100 % less the RMS difference between y and the model's ŷ over the step's lines, in % of
    // the way ŷ goes (its largest less its smallest): 99 % for a perfect model on a sensor
    // with noise of 1 % of the step.
    double fit = Fopdt::kNone;
    // When the step happened, between the last line at rest and the first of the step: the
    // instant the model's fit places it at.
    double stepAt = Fopdt::kNone;
    std::vector<double> response; // ŷ at each line of the record, the rest's lines included
    Refusal refusal = Refusal::None;
};

// The reason in words, for the line printed on standard output.
QString refusalText(const Identification &identification);

// A model is offered only from this fit on; below it the model misses the step by more than a
// tenth of its way on average (another order, a disturbance, a loop not at rest when the step
// began, or noise as large), too much to design on.
constexpr double kMinimumFit = 90;

// Least squares from u to y over the record: y ≈ offset + K·g + c·e^(−t/tau), where g is the
// model's response to the measured u (straight between lines, but a jump at one instant in the
// interval that ends at the step's first line), the offset where the plant's output rests, and
// c what is left of a state it was not at rest in when the record begins. offset, K and c by
// linear least squares for each (tau, theta); theta and the step's instant over a grid refined
// by golden-section search, tau by golden-section search on its logarithm. Closed-loop steps are
// fine, since u is measured: the set-point's step, with lines before it, is what tells the plant
// from the controller (u = Kp·(sp − y) would otherwise fit y = sp − u/Kp without any lag).
Identification identify(const StepRecord &record);

} // namespace pidtune::scope
