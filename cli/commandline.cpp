// SPDX-License-Identifier: MIT
#include "commandline.h"

#include "pidtune_config.h"

#include <cstdio>

namespace pidtune::cli {

void say(const char *program, const QString &message)
{
    std::fprintf(stderr, "%s: %s\n", program, qPrintable(message));
}

int refuse(const char *program, const QString &why)
{
    say(program, why);
    std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
    return kUsageError;
}

int finishOutput(const char *program)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return 0;
    say(program, QStringLiteral("cannot write the output: %1").arg(qt_error_string()));
    return 1;
}

int printVersion(const char *program)
{
    std::printf("%s %s\n", program, PIDTUNE_VERSION);
    return finishOutput(program);
}

int printText(const char *program, const QString &text)
{
    std::fputs(qPrintable(text), stdout);
    return finishOutput(program);
}

} // namespace pidtune::cli
