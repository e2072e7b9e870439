// SPDX-License-Identifier: MIT
#include "stopsignals.h"

#include <QSocketNotifier>
#include <QTimer>

#include <csignal>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may do almost nothing: it writes a byte to this socket pair, and the event
// loop, watching the other end, does the work.
int wakeUp[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeUp[0], &byte, 1);
    errno = savedErrno;
}

void handleStopSignals(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, wakeUp) != 0)
        return; // without it the signals keep their default effect: the monitor just ends
    // A burst of signals must never block the handler; one byte waiting is as good as many.
    ::fcntl(wakeUp[0], F_SETFL, ::fcntl(wakeUp[0], F_GETFL) | O_NONBLOCK);
    for (const int end : wakeUp)
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    notifier = std::make_unique<QSocketNotifier>(wakeUp[1], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &StopSignals::drain);
    handleStopSignals(onStopSignal);
}

StopSignals::~StopSignals()
{
    if (!notifier)
        return;
    handleStopSignals(SIG_DFL);
    notifier.reset();
    ::close(wakeUp[0]);
    ::close(wakeUp[1]);
    wakeUp[0] = wakeUp[1] = -1;
}

void StopSignals::drain()
{
    char bytes[16];
    [[maybe_unused]] const ssize_t n = ::read(wakeUp[1], bytes, sizeof bytes);
    emit received();
}

#else

namespace {

// Without socket pairs (Windows), the handler sets a flag that a timer looks at.
volatile std::sig_atomic_t stopRequested = 0;

extern "C" void onStopSignal(int)
{
    stopRequested = 1;
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent), poll(std::make_unique<QTimer>())
{
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    connect(poll.get(), &QTimer::timeout, this, &StopSignals::drain);
    poll->start(100);
}

StopSignals::~StopSignals()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

void StopSignals::drain()
{
    if (!stopRequested)
        return;
    stopRequested = 0;
    emit received();
}

#endif
