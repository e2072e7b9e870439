// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>

namespace pidtune {

// pidtune's window icon: the sizes up to 64 px rendered from packaging/pidtune.svg for the
// build, the same images the package installs in the hicolor theme. Needs the QGuiApplication.
QIcon applicationIcon();

} // namespace pidtune
