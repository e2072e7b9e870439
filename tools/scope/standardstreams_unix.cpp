// SPDX-License-Identifier: MIT
#include "standardstreams.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace pidtune::scope {

ClosedStreams guardStandardStreams()
{
    ClosedStreams closed;
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(stream, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number: this one.
        const int null = ::open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != stream) {
            ::dup2(null, stream);
            ::close(null);
        }
        if (stream == STDIN_FILENO)
            closed.input = true;
        else if (stream == STDOUT_FILENO)
            closed.output = true;
    }
    std::signal(SIGPIPE, SIG_IGN);
    return closed;
}

} // namespace pidtune::scope
