// SPDX-License-Identifier: MIT
#pragma once

namespace firstframe {

// Starts its own Xvfb and measures, for the pidtune program and for windows to compare it with,
// the time from exec to the window's first frame arriving at the X server, and the idle memory
// after it; the kinds take turns, round after round. Prints a table, or why it was skipped.
void printFigures(int rounds);

} // namespace firstframe
