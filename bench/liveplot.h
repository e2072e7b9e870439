// SPDX-License-Identifier: MIT
#pragma once

namespace liveplot {

// Starts its own Xvfb and feeds pidtune-scope, kst2 (a file as it grows) and feedgnuplot
// --stream the same telemetry, one program after the other, each for `seconds`, in each of
// the workloads users meet: 4 series at 1,000 lines a second, smooth and with sensor noise;
// 8 noisy series at 20,000 lines a second over a 60 s view; 32 noisy series at 1,000. Prints
// what each costs, how often and how soon it draws and whether it kept up, or why a program
// was skipped; the scope's delay from a line's write to its pixels; what one frame costs the X
// server at that size; and the scope's goals as figures.
void printFigures(double seconds);

} // namespace liveplot
