// SPDX-License-Identifier: MIT
// pidtune-monitor --pty where the system has no pseudo-terminals (Windows).
#include "framemonitor.h"

bool FrameMonitor::watchPseudoTerminal(QString *, QString *error)
{
    *error = QStringLiteral(
        "this system has no pseudo-terminals; name a serial port instead (on Windows, one end of "
        "a virtual null-modem pair such as com0com's, with pidtune on the other)");
    return false;
}
