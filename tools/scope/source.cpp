// SPDX-License-Identifier: MIT
#include "source.h"

#include "serial/ptyport.h"
#include "serial/seriallink.h"
#include "telemetryline.h"

#include <QFile>
#include <QSocketNotifier>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <unistd.h>
#endif

namespace pidtune::scope {

namespace {

// A CSV row's time, its first cell.
bool rowTime(const QByteArray &row, double *time)
{
    const qsizetype comma = row.indexOf(',');
    const QByteArray cell = row.left(comma < 0 ? row.size() : comma).trimmed();
    return readNumber(cell.constData(), cell.constData() + cell.size(), time);
}

} // namespace

Source::Source(QObject *parent) : QObject(parent)
{
    connect(&replayTimer, &QTimer::timeout, this, &Source::replay);
}

Source::~Source() = default;

bool Source::openPort(const QString &name, qint32 baudRate, QString *error)
{
    auto opened = std::make_unique<QSerialPort>(name);
    const pidtune::OpenResult result = pidtune::openLine(*opened, QIODevice::ReadOnly, baudRate);
    if (!result.ok()) {
        *error = result.reason;
        return false;
    }
    port = std::move(opened);
    connect(port.get(), &QSerialPort::readyRead, this, &Source::readPort);
    connect(port.get(), &QSerialPort::errorOccurred, this, &Source::handlePortError);
    return true;
}

void Source::readPort()
{
    const QByteArray bytes = port->readAll();
    if (pty) {
        // pidtune reads what the device says and drops it; while its port is closed nobody
        // reads the pseudo-terminal, and what no longer fits there is dropped here.
        pty->write(bytes.constData(), bytes.size());
    }
    emit received(bytes);
}

void Source::handlePortError(QSerialPort::SerialPortError error)
{
    if (!pidtune::isLineLost(*port, error))
        return;
    QString reason = QStringLiteral("%1: %2").arg(port->portName(), port->errorString());
    pidtune::releaseLine(*port, this);
    if (pty) {
        pty->close(); // pidtune sees its line lost, as it would with the device itself
        reason += QStringLiteral("; the relay ended and closed pidtune's port");
    }
    emit ended(reason);
}

bool Source::openStandardInput(QString *error)
{
#if defined(Q_OS_UNIX)
    // Read as it becomes readable, one read() each time: standard input stays blocking, since
    // its file description may be shared with the shell.
    input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(input.get(), &QSocketNotifier::activated, this, &Source::readStandardInput);
    Q_UNUSED(error);
    return true;
#else
    *error = QStringLiteral("standard input is not supported on this platform");
    return false;
#endif
}

void Source::readStandardInput()
{
#if defined(Q_OS_UNIX)
    char chunk[65536];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n > 0) {
        emit received(QByteArray(chunk, int(n)));
    } else if (n == 0 || errno != EINTR) {
        input->setEnabled(false);
        emit ended(n == 0 ? QStringLiteral("end of standard input")
                          : QStringLiteral("standard input: %1").arg(qt_error_string(errno)));
    }
#endif
}

bool Source::openCsv(const QString &path, QByteArray *timeColumn, QString *error)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        *error = file->errorString();
        return false;
    }
    const QByteArray header = file->readLine(kMaxLineLength).trimmed();
    if (header.isEmpty()) {
        *error = QStringLiteral("no header row naming the columns");
        return false;
    }
    for (QByteArray name : header.split(',')) {
        // A name must stay one label in a telemetry line.
        for (char &c : name) {
            if (c == ' ' || c == '\t' || c == ':' || c == '=')
                c = '_';
        }
        columns.append(name.trimmed());
    }
    *timeColumn = columns.first();
    csv = std::move(file);
    row = csv->readLine(kMaxLineLength);
    rowTime(row, &firstRowTime);
    replayClock.start();
    replayTimer.start(10);
    return true;
}

void Source::replay()
{
    QByteArray lines;
    // The rows that are due, but a bounded amount each time, so the window stays responsive.
    while (!row.isEmpty() && lines.size() < (1 << 20)) {
        // A row whose time cannot be read goes at once.
        double time = 0;
        if (rowTime(row, &time) && time - firstRowTime > double(replayClock.elapsed()) / 1000)
            break;
        const QList<QByteArray> cells = row.trimmed().split(',');
        for (int i = 0; i < cells.size() && i < columns.size(); ++i) {
            if (!cells[i].trimmed().isEmpty())
                lines += columns[i] + '=' + cells[i].trimmed() + ' ';
        }
        lines += '\n';
        row = csv->readLine(kMaxLineLength);
    }
    if (!lines.isEmpty())
        emit received(lines);
    if (row.isEmpty()) {
        replayTimer.stop();
        emit ended(csv->atEnd()
                       ? QStringLiteral("end of %1").arg(csv->fileName())
                       : QStringLiteral("%1: %2").arg(csv->fileName(), csv->errorString()));
    }
}

} // namespace pidtune::scope
