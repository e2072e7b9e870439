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
#endif

namespace pidtune {

namespace {

#if defined(Q_OS_UNIX)
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// A signal handler may do almost nothing: it writes the signal's number to this socket pair,
// and the event loop, watching the other end, does the work.
int wakeUp[2] = {-1, -1};

extern "C" void onStopSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(wakeUp[0], &byte, 1);
    errno = savedErrno;
}

void handleStopSignals(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kStopSignals)
        sigaction(signalNumber, &action, nullptr);
}
#else
constexpr int kStopSignals[] = {SIGINT, SIGTERM};

// Without socket pairs (Windows), the handler leaves the number where a timer looks for it.
volatile std::sig_atomic_t pending = 0;

extern "C" void onStopSignal(int signalNumber)
{
    pending = signalNumber;
}

void handleStopSignals(void (*handler)(int))
{
    for (const int signalNumber : kStopSignals)
        std::signal(signalNumber, handler);
}
#endif

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
#if defined(Q_OS_UNIX)
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, wakeUp) != 0)
        return; // without it the signals keep their default effect
    // A burst of signals must never block the handler.
    ::fcntl(wakeUp[0], F_SETFL, ::fcntl(wakeUp[0], F_GETFL) | O_NONBLOCK);
    for (const int end : wakeUp)
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    notifier = std::make_unique<QSocketNotifier>(wakeUp[1], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &StopSignals::drain);
#else
    poll = std::make_unique<QTimer>();
    connect(poll.get(), &QTimer::timeout, this, &StopSignals::drain);
    poll->start(100);
#endif
    handleStopSignals(onStopSignal);
}

StopSignals::~StopSignals()
{
    handleStopSignals(SIG_DFL);
#if defined(Q_OS_UNIX)
    notifier.reset();
    for (int &end : wakeUp) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
#endif
}

void StopSignals::drain()
{
    int signalNumber = 0;
#if defined(Q_OS_UNIX)
    char bytes[16];
    const ssize_t n = ::read(wakeUp[1], bytes, sizeof bytes);
    if (n <= 0)
        return;
    signalNumber = static_cast<unsigned char>(bytes[0]);
#else
    signalNumber = pending;
    pending = 0;
#endif
    if (signalNumber == 0)
        return;
    if (first == 0)
        first = signalNumber;
    emit stopRequested(signalNumber);
}

void StopSignals::endAs(int signalNumber)
{
    if (signalNumber == 0)
        return;
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

} // namespace pidtune
