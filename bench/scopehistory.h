// SPDX-License-Identifier: MIT
#pragma once

namespace scopehistory {

// In this process, without a display: what pidtune-scope's buffer holds and costs at 20,000
// lines a second x 8 series over 10 minutes, how long its chart takes to draw that whole and a
// few new lines, and how long the scope's window takes to take in 131,072 lines of 32 noisy
// series given at once.
void printFigures();

} // namespace scopehistory
