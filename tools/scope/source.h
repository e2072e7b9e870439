// SPDX-License-Identifier: MIT
#pragma once

#include "parameterlog.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace pidtune::scope {

struct ScopeOptions;

// Where the telemetry comes from: a serial port or pseudo-terminal (PortSource), standard input
// (StandardInputSource), a CSV file replayed (CsvSource), or a device relayed to pidtune
// (RelaySource). Each says what it read and, once, that nothing more will come.
class Source : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The pseudo-terminal the relay made for pidtune; empty for other sources.
    virtual QString relayPath() const { return {}; }

signals:
    void received(const QByteArray &bytes);
    // A parameter frame went to the device just now (the relay).
    void parameterSent(int id, float value);
    // The last `count` frames told were dropped before they left: pidtune flushed its port.
    void parametersUnsent(int count);
    // A parameter change that a recording holds, in its place among the lines (a CSV replayed),
    // with the name it had there, if any.
    void parameterRecorded(const pidtune::scope::ParameterChange &change, const QString &name);
    // Nothing more will come; the reason is for the operator.
    void ended(const QString &reason);
    // Bytes were dropped on their way (the relay's), or will be; said for the operator.
    void lost(const QString &what);
};

// A device relayed to pidtune through a pseudo-terminal of the scope's making (relaysource.cpp),
// or where the system has none, the reason why not (relaysource_nopty.cpp).
std::unique_ptr<Source> openRelay(const QString &devicePort, qint32 baudRate, QString *error);

// The source the command line names, opened; null with the reason in *error. A CSV's time
// column's name goes to *timeColumn (its times are seconds), left empty for the other sources.
std::unique_ptr<Source> openSource(const ScopeOptions &options, QByteArray *timeColumn,
                                   QString *error);

} // namespace pidtune::scope
