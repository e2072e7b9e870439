// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

// What every pidtune program does with its command line before it opens anything: its
// arguments read, the help or version printed, a refusal explained. The programs answer these
// without a display, and exit with 0, 1 (the output could not be written) or 2 (a refusal).
namespace pidtune::cli {

constexpr int kUsageError = 2;

// The arguments as the program was given them. On Windows they are read from the wide command
// line, as argv holds them in the ANSI code page, which loses what it cannot spell (a path in
// Chinese on a Western system).
QStringList arguments(int argc, char *argv[]);

// "program: message" on standard error.
void say(const char *program, const QString &message);

// Explains a refused command line on standard error; returns kUsageError.
int refuse(const char *program, const QString &why);

// Flushes standard output: 0, or 1 after saying why the output could not be written (--help
// into a full disk must not look like success).
int finishOutput(const char *program);

// "program VERSION" on standard output; the status as finishOutput().
int printVersion(const char *program);

// The text on standard output; the status as finishOutput().
int printText(const char *program, const QString &text);

// A program built as a windowed one (pidtune on Windows) has no standard output of its own:
// this gives it the console of the command prompt that started it, where there is one, so that
// --help and --version are seen. Elsewhere it does nothing.
void useParentConsole();

// A serial port's name as this system spells it, for examples in help and refusals: COM3 on
// Windows, /dev/ttyUSB0 elsewhere.
QString examplePort();

} // namespace pidtune::cli
