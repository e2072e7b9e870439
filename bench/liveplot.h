// SPDX-License-Identifier: MIT
#pragma once

namespace liveplot {

// Starts its own Xvfb and feeds pidtune-scope, kst2 (a file as it grows) and feedgnuplot
// --stream the same telemetry, one program after the other, each for `seconds`: 4 series at
// 1,000 lines a second. Prints what each costs and how often and how soon it draws, or why a
// program was skipped; then, from a run of the scope alone, the delay from a line's write to
// its pixels in the X server.
void printFigures(double seconds);

} // namespace liveplot
