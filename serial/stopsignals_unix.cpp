// SPDX-License-Identifier: MIT
#include "stopsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pidtune {

namespace {

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

void blockStopSignals(int how)
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kStopSignals)
        sigaddset(&set, signalNumber);
    pthread_sigmask(how, &set, nullptr);
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

} // namespace

struct StopSignals::Watch
{
    std::unique_ptr<QSocketNotifier> notifier;
};

void StopSignals::holdUntilWatched()
{
    blockStopSignals(SIG_BLOCK);
}

StopSignals::StopSignals(QObject *parent) : QObject(parent), watch(std::make_unique<Watch>())
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, wakeUp) != 0) {
        blockStopSignals(SIG_UNBLOCK); // without it the signals keep their default effect
        return;
    }
    // A burst of signals must never block the handler.
    ::fcntl(wakeUp[0], F_SETFL, ::fcntl(wakeUp[0], F_GETFL) | O_NONBLOCK);
    for (const int end : wakeUp)
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    watch->notifier = std::make_unique<QSocketNotifier>(wakeUp[1], QSocketNotifier::Read);
    connect(watch->notifier.get(), &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        const ssize_t n = ::read(wakeUp[1], bytes, sizeof bytes);
        if (n > 0)
            deliver(static_cast<unsigned char>(bytes[0]));
    });
    handleStopSignals(onStopSignal);
    // One that came meanwhile is handled now, and delivered by the event loop.
    blockStopSignals(SIG_UNBLOCK);
}

StopSignals::~StopSignals()
{
    handleStopSignals(SIG_DFL);
    watch->notifier.reset();
    for (int &end : wakeUp) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void StopSignals::endAs(int signalNumber)
{
    if (signalNumber == 0)
        return;
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

} // namespace pidtune
