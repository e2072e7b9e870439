// SPDX-License-Identifier: MIT
// Long runs over a pseudo-terminal, as figures: many releases, many open/close cycles, a flood
// from the device while sending, and devices vanishing mid-stream.
#include "stress.h"

#include "app/mainwindow.h"
#include "processinfo.h"
#include "pseudoterminal.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

#include <cstdio>

using namespace testwindow;

namespace {

QByteArray frameForLabel(int identifier, const QLabel *label)
{
    return frameBytes(identifier, label->text().trimmed().toFloat());
}

// Frames missing at the end, and frames that differ, between what was meant and what came.
std::pair<int, int> lostAndCorrupted(const QByteArray &expected, const QByteArray &received)
{
    int lost = 0, corrupted = 0;
    for (int at = 0; at < expected.size(); at += 9) {
        if (at + 9 > received.size())
            ++lost;
        else if (received.mid(at, 9) != expected.mid(at, 9))
            ++corrupted;
    }
    return {lost, corrupted};
}

// Keeps the device sending filler until `bytes` have gone, while the event loop runs.
void flood(PseudoTerminal &device, qint64 bytes, const std::function<bool()> &until = {})
{
    const QByteArray chunk(1 << 20, '\xA5');
    for (qint64 left = bytes; left > 0 || device.pendingToSend() > 0;) {
        if (device.pendingToSend() == 0 && left > 0) {
            device.send(chunk.left(int(qMin<qint64>(left, chunk.size()))));
            left -= chunk.size();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (until && until())
            break;
    }
}

void manyReleases(MainWindow &window, PseudoTerminal &device)
{
    for (int n = 1; n <= 6; ++n)
        setUpChannel(window, n, QStringLiteral("0"), QStringLiteral("-1000"),
                     QStringLiteral("1000"));
    QRandomGenerator random(20261206);
    QByteArray expected;
    constexpr int releases = 10000;
    for (int i = 0; i < releases; ++i) {
        const pidtune::ChannelWidgets row = channel(window, random.bounded(1, 7));
        const int identifier = random.bounded(256);
        row.identifier->setPlainText(QString::number(identifier));
        row.slider->setValue(random.bounded(row.slider->minimum(), row.slider->maximum()));
        pressAndRelease(row.slider);
        expected += frameForLabel(identifier, row.value);
        device.received(); // the device reads as it goes
        if (i % 100 == 0)
            QCoreApplication::processEvents();
    }
    (void)QTest::qWaitFor([&] { return device.received().size() >= expected.size(); }, 10000);
    const auto [lost, corrupted] = lostAndCorrupted(expected, device.takeReceived());
    std::printf("%d releases: lost %d frames, corrupted %d\n", releases, lost, corrupted);
}

void openCloseCycles(MainWindow &window, PseudoTerminal &device)
{
    const int descriptorsBefore = processinfo::openDescriptors();
    int destroyed = 0;
    constexpr int cycles = 1000;
    for (int i = 0; i < cycles; ++i) {
        openPort(window, device.slavePath());
        QObject::connect(window.connection(), &QObject::destroyed, [&destroyed] { ++destroyed; });
        pressOpenButton(window);
    }
    (void)QTest::qWaitFor([&] { return destroyed == cycles; }, 10000);
    std::printf("%d open/close cycles: %d port objects destroyed, descriptors %d -> %d\n", cycles,
                destroyed, descriptorsBefore, processinfo::openDescriptors());
}

void floodWhileSending(MainWindow &window, PseudoTerminal &device)
{
    openPort(window, device.slavePath());
    setUpChannel(window, 1, QStringLiteral("1"), QStringLiteral("-1000"), QStringLiteral("1000"));
    const pidtune::ChannelWidgets row = channel(window, 1);
    flood(device, 4 << 20); // every path warmed up, so the baseline holds Qt's lasting buffers
    pressAndRelease(row.slider);
    (void)QTest::qWaitFor([&] { return device.received().size() >= 9; }, 5000);
    device.takeReceived();
    const qint64 residentBefore = processinfo::residentKiB();

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, longestWait = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestWait = qMax(longestWait, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    ticker.start(10);
    QRandomGenerator random(64);
    QByteArray expected;
    QTimer operatorHand;
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        row.slider->setValue(random.bounded(row.slider->minimum(), row.slider->maximum()));
        pressAndRelease(row.slider);
        expected += frameForLabel(1, row.value);
    });
    operatorHand.start(5);
    constexpr qint64 megabytes = 64;
    flood(device, megabytes << 20);
    operatorHand.stop();
    ticker.stop();
    (void)QTest::qWaitFor([&] { return device.received().size() >= expected.size(); }, 5000);
    const auto [lost, corrupted] = lostAndCorrupted(expected, device.takeReceived());
    std::printf("flood of %lld MiB from the device in %.1f s while sending %d frames: lost %d, "
                "corrupted %d; resident %lld -> %lld KiB; longest wait of a 10 ms timer %lld "
                "ms\n",
                megabytes, clock.elapsed() / 1000.0, int(expected.size() / 9), lost, corrupted,
                residentBefore, processinfo::residentKiB(), longestWait);
    pressOpenButton(window);
}

void vanishingDevices(MainWindow &window)
{
    constexpr int rounds = 100;
    int closed = 0;
    for (int i = 0; i < rounds; ++i) {
        PseudoTerminal vanishing;
        openPort(window, vanishing.slavePath());
        flood(vanishing, 1 << 20, [&] { return window.connection()->bytesAvailable() == 0; });
        vanishing.unplug();
        closed += QTest::qWaitFor([&] { return !window.connection(); }, 5000);
    }
    std::printf("%d devices vanished mid-stream: the window returned to Closed %d times\n", rounds,
                closed);
}

} // namespace

void printStressFigures()
{
    PseudoTerminal device;
    if (!device.isValid()) {
        std::printf("stress: skipped (%s)\n", qPrintable(device.reason()));
        return;
    }
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return;
    openPort(window, device.slavePath());
    manyReleases(window, device);
    pressOpenButton(window);
    openCloseCycles(window, device);
    floodWhileSending(window, device);
    vanishingDevices(window);
}
