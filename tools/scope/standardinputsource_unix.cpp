// SPDX-License-Identifier: MIT
#include "standardinputsource.h"

#include <QSocketNotifier>

#include <cerrno>
#include <unistd.h>

namespace pidtune::scope {

struct StandardInputSource::Reader
{
    QSocketNotifier notifier {STDIN_FILENO, QSocketNotifier::Read};
};

std::unique_ptr<StandardInputSource> StandardInputSource::open(QString *error)
{
    Q_UNUSED(error);
    std::unique_ptr<StandardInputSource> source(new StandardInputSource);
    QSocketNotifier &notifier = source->reader->notifier;
    // Read as it becomes readable, one read() each time: standard input stays blocking, since
    // its file description may be shared with the shell.
    connect(&notifier, &QSocketNotifier::activated, source.get(), [input = source.get()] {
        char chunk[65536];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n > 0) {
            emit input->received(QByteArray(chunk, int(n)));
        } else if (n == 0 || errno != EINTR) {
            input->reader->notifier.setEnabled(false);
            emit input->ended(
                n == 0 ? QStringLiteral("end of standard input")
                       : QStringLiteral("standard input: %1").arg(qt_error_string(errno)));
        }
    });
    return source;
}

StandardInputSource::StandardInputSource() : reader(std::make_unique<Reader>()) { }

StandardInputSource::~StandardInputSource() = default;

} // namespace pidtune::scope
