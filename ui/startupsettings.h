// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

class MainWindowForm;

namespace pidtune {

struct StartupSettingsReport
{
    bool unreadable = false; // Settings.ini is there but could not be read
    QStringList tooLong; // keys whose value was longer than a box keeps, left out
};

// Pre-fills each channel's identifier, Min and Max from Settings.ini in the current directory.
// Min and Max go through the fields' own change handlers, exactly as if the operator had typed
// them. The file is only read, never written.
StartupSettingsReport loadStartupSettings(MainWindowForm &form);

} // namespace pidtune
