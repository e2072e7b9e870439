// SPDX-License-Identifier: MIT
#pragma once

#if defined(PIDTUNE_BENCH_X11)

#include "xvfb.h"

#include <QString>

namespace liveplot {

// What it costs to put one frame of a window's size on the X server, whatever the program that
// drew it: the floor under any plotter that redraws its whole window. Per frame, in ms of CPU
// time, the bench's own (the client's side) and the X server's; nan where it could not be run.
struct FrameCost
{
    double sharedClientMs = qQNaN(), sharedServerMs = qQNaN(); // MIT-SHM put, as Qt does
    double socketClientMs = qQNaN(), socketServerMs = qQNaN(); // the pixels through the socket
    double copyServerMs = qQNaN(); // the window's pixels moved by one column within the server
    QString why; // what could not be measured
};

FrameCost measureFrameCost(Xvfb &x, int width, int height);

} // namespace liveplot

#endif
