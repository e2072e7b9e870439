// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

// What this process holds, read from /proc; -1 where the system has no /proc.
namespace processinfo {

qint64 residentKiB();
int openDescriptors();

} // namespace processinfo
