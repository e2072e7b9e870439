// SPDX-License-Identifier: MIT
// pidtune-monitor --pty, where the system has pseudo-terminals.
#include "framemonitor.h"

#include "serial/ptyport.h"

bool FrameMonitor::watchPseudoTerminal(QString *path, QString *error)
{
    auto opened = std::make_unique<pidtune::PtyPort>();
    if (!opened->open(path, error))
        return false;
    connect(opened.get(), &pidtune::PtyPort::received, this, &FrameMonitor::feed);
    connect(opened.get(), &pidtune::PtyPort::failed, this, &FrameMonitor::failed);
    pty = std::move(opened);
    return true;
}
