// SPDX-License-Identifier: MIT
#include "stopsignals.h"

namespace pidtune {

void StopSignals::deliver(int signalNumber)
{
    if (signalNumber == 0)
        return;
    if (first == 0)
        first = signalNumber;
    emit stopRequested(signalNumber);
}

} // namespace pidtune
