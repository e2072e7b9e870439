// SPDX-License-Identifier: MIT
#pragma once

#include "pidtune_frame.h"

#include <QString>
#include <QTime>

namespace pidtune::monitor {

// The shortest decimal, from 6 significant digits up, that reads back as the same float: short
// for the values a slider sends (1.5, 0.69999) yet never hiding a difference in the bits.
// Locale-independent; non-finite values are "inf", "-inf" and "nan".
QString shortestText(float value);

// "12:01:02.345  id=3  value=1.5  05 FA 06 03 04 00 00 C0 3F  skipped=0", where skipped counts
// the noise bytes between the previous frame and this one.
QString frameLine(const QTime &time, const pidtune_frame &frame, quint64 skipped);

// "summary: frames=12 skipped=3 unfinished=0", the last line when the monitor is stopped.
QString summaryLine(quint64 frames, quint64 skipped, int unfinished);

} // namespace pidtune::monitor
