// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;
class QTimer;

// Turns Ctrl-C (SIGINT) and SIGTERM into a Qt signal, delivered by the event loop, so that the
// monitor can print its summary and exit normally. One instance per process.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void received();

private:
    void drain();

    std::unique_ptr<QSocketNotifier> notifier;
    std::unique_ptr<QTimer> poll;
};
