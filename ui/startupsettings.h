// SPDX-License-Identifier: MIT
#pragma once

class MainWindowForm;

namespace pidtune {

// Pre-fills each channel's identifier, Min and Max from Settings.ini in the current directory.
// Min and Max go through the fields' own change handlers, exactly as if the operator had typed
// them. The file is only read, never written.
void loadStartupSettings(MainWindowForm &form);

} // namespace pidtune
