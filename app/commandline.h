// SPDX-License-Identifier: MIT
#pragma once

#include <optional>

namespace pidtune {

// Reads pidtune's command line before the QApplication exists, so that answering it needs no
// display. Prints the help, the version or why the arguments were refused, and returns the exit
// status for that (0, or 2 for a refusal); returns nothing when the window is to start. Qt's own
// options (-platform, -style, -geometry, ...) are accepted and left for the QApplication.
std::optional<int> handleCommandLine(int argc, char *argv[]);

} // namespace pidtune
