// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class MainWindowForm;

namespace pidtune {

// Pre-fills each channel's identifier, Min and Max from Settings.ini in the current directory.
// Min and Max go through the fields' own change handlers, exactly as if the operator had typed
// them. The file is only read, never written. Returns what the operator should be told about a
// file that was there but not wholly used (also logged as a warning), or an empty text.
QString loadStartupSettings(MainWindowForm &form);

} // namespace pidtune
