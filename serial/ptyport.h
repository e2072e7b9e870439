// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace pidtune {

// A pseudo-terminal that stands in for a serial port: another program (pidtune, told about it
// through PIDTUNE_EXTRA_PORTS) opens its path like a port, and this side reads what that program
// writes and can answer it. The line is raw 115200 8N1, as pidtune sets its port, so that a tool
// opening it without setting it up sees the same line. Built only where the system has
// pseudo-terminals (pidtune_config.h: kHavePseudoTerminals).
class PtyPort : public QObject
{
    Q_OBJECT

public:
    explicit PtyPort(QObject *parent = nullptr);
    ~PtyPort() override;

    // Creates the pseudo-terminal; *path is the name the other program opens.
    bool open(QString *path, QString *error);
    bool isOpen() const { return master >= 0; }

    // Passes bytes to the other program; returns how many the line took now (none while the
    // line is full, as when nobody reads the other end). When it took less than all, writable()
    // follows once it takes more.
    qint64 write(const char *data, qint64 size);

    // Drops what the other program wrote that was not read here yet; returns how many bytes.
    qint64 discardUnread();

    // While off, what the other program writes waits in the line, which in time stops it.
    void setReading(bool on);

    // The other end sees its line hang up, as when an adapter is unplugged.
    void close();

signals:
    void received(const QByteArray &bytes);
    void writable();
    // The other program flushed its port: it dropped what it had written that was not read here
    // yet (output), or what was written here that it had not read (input), as a program does
    // before it closes a port.
    void flushed(bool output, bool input);
    // The line stopped working; it is closed.
    void failed(const QString &reason);

private:
    void read();
    void readStatus();

    int master = -1;
    int slave = -1;
    bool reading = true;
    QSocketNotifier *notifier = nullptr; // a child: it may be closed inside its own signal
    QSocketNotifier *writeNotifier = nullptr;
    QSocketNotifier *statusNotifier = nullptr;
};

} // namespace pidtune
