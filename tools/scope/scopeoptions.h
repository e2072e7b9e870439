// SPDX-License-Identifier: MIT
#pragma once

#include "telemetry.h"

#include <QMap>
#include <QString>

#include <optional>

namespace pidtune::scope {

// The chart's redraws a second unless --max-redraws says otherwise.
inline constexpr int kDefaultRedrawsPerSecond = 50;

struct ScopeOptions
{
    QString source; // "-", a port or pseudo-terminal, or a .csv file; empty with a relay
    QString relayPort;
    qint32 baudRate = 115200;
    TelemetrySettings telemetry;
    double windowSeconds = 10;
    int maxRedrawsPerSecond = kDefaultRedrawsPerSecond;
    bool fixedRange = false;
    double rangeLow = 0;
    double rangeHigh = 0;
    bool exitAtEnd = false;
    QMap<int, QString> parameterNames; // by identifier, from --settings and --names

    bool isCsv() const { return source.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive); }
};

// The parameters' names a Settings.ini for pidtune gives: each channel's Type_Flag (its
// identifier) and its Name, a key the scope reads and pidtune ignores. False with the reason when
// the file cannot be read as text.
bool readSettingsNames(const QString &path, QMap<int, QString> *names, QString *error);

// Reads pidtune-scope's command line before the QApplication exists, so that answering it
// needs no display. Prints the help, the version or why the arguments were refused, and returns
// the exit status for that (0, or 2 for a refusal); returns nothing when the scope is to start.
// Qt's own options (-platform, -style, ...) are accepted and left for the QApplication.
std::optional<int> readCommandLine(int argc, char *argv[], ScopeOptions *options);

} // namespace pidtune::scope
