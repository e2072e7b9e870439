// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>

namespace pidtune {

// pidtune's icon at every size rendered from packaging/pidtune.svg for the build, the same
// images the package installs in the hicolor theme. Needs the QGuiApplication.
QIcon applicationIcon();

} // namespace pidtune
