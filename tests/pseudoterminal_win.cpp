// SPDX-License-Identifier: MIT
// The test's device under Wine: a pseudo-terminal that pidtune-ptyhost (tests/wine/ptyhost.c)
// makes on the Linux side and links as a COM port in the Wine prefix. The test talks to the host
// over 127.0.0.1; the port's number is in the file that PIDTUNE_PTYHOST names.
#include "pseudoterminal.h"

#include <QFile>

#include <winsock2.h>

namespace {

constexpr int kAnswerTimeoutMs = 30000;

bool startWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

} // namespace

struct PseudoTerminal::Line
{
    SOCKET socket = INVALID_SOCKET;
    QByteArray incoming; // from the host, not yet parsed

    bool sendMessage(char type, const QByteArray &payload = {})
    {
        QByteArray message(5, '\0');
        message[0] = type;
        const quint32 size = quint32(payload.size());
        for (int i = 0; i < 4; ++i)
            message[1 + i] = char((size >> (8 * i)) & 0xff);
        message += payload;
        for (int sent = 0; socket != INVALID_SOCKET && sent < message.size();) {
            const int n = ::send(socket, message.constData() + sent, message.size() - sent, 0);
            if (n <= 0)
                return false;
            sent += n;
        }
        return socket != INVALID_SOCKET;
    }

    // Reads what the host sent, waiting up to timeoutMs for something; false once it is gone.
    bool pull(int timeoutMs)
    {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket, &readable);
        timeval wait {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            return true;
        char chunk[65536];
        const int n = ::recv(socket, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        incoming.append(chunk, n);
        return true;
    }

    // The next whole message, if one is there.
    bool next(char *type, QByteArray *payload)
    {
        if (incoming.size() < 5)
            return false;
        quint32 size = 0;
        for (int i = 0; i < 4; ++i)
            size |= quint32(quint8(incoming[1 + i])) << (8 * i);
        if (quint32(incoming.size()) < 5 + size)
            return false;
        *type = incoming[0];
        *payload = incoming.mid(5, int(size));
        incoming.remove(0, 5 + int(size));
        return true;
    }

    // Asks the host and waits for its answer; the program's bytes that come meanwhile are
    // the device's input.
    QByteArray ask(char question, QByteArray *input, const QByteArray &payload = {})
    {
        if (!sendMessage(question, payload))
            return {};
        for (int waited = 0; waited < kAnswerTimeoutMs; waited += 50) {
            char type = 0;
            QByteArray body;
            while (next(&type, &body)) {
                if (type == 'A')
                    return body;
                if (type == 'D')
                    input->append(body);
            }
            if (!pull(50))
                return {};
        }
        return {};
    }
};

PseudoTerminal::PseudoTerminal() : line(std::make_unique<Line>())
{
    const QString portFile = qEnvironmentVariable("PIDTUNE_PTYHOST");
    QFile file(portFile);
    bool ok = false;
    const int port = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt(&ok) : 0;
    if (portFile.isEmpty() || !ok || port <= 0) {
        failure = QStringLiteral("no pidtune-ptyhost: PIDTUNE_PTYHOST names no file holding its "
                                 "port (tests/wine/run-test.sh starts it)");
        return;
    }
    if (!startWinsock()) {
        failure = QStringLiteral("Winsock did not start");
        return;
    }
    line->socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(u_short(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (line->socket == INVALID_SOCKET
        || ::connect(line->socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        failure = QStringLiteral("cannot reach pidtune-ptyhost on port %1").arg(port);
        unplug();
        return;
    }
    const BOOL on = TRUE;
    setsockopt(line->socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on),
               sizeof on);
    for (int waited = 0; waited < kAnswerTimeoutMs && path.isEmpty(); waited += 50) {
        char type = 0;
        QByteArray body;
        if (line->next(&type, &body) && type == 'N')
            path = QString::fromLatin1(body);
        else if (!line->pull(50))
            break;
    }
    if (path.isEmpty()) {
        failure = QStringLiteral("pidtune-ptyhost named no COM port");
        closesocket(line->socket);
        line->socket = INVALID_SOCKET;
    }
}

PseudoTerminal::~PseudoTerminal()
{
    if (line->socket != INVALID_SOCKET)
        closesocket(line->socket); // the host unplugs the device and removes its COM port
}

bool PseudoTerminal::isValid() const
{
    return line->socket != INVALID_SOCKET;
}

const QByteArray &PseudoTerminal::received()
{
    if (!reading || line->socket == INVALID_SOCKET)
        return input;
    while (line->pull(0) && !line->incoming.isEmpty()) {
        char type = 0;
        QByteArray body;
        const int before = line->incoming.size();
        while (line->next(&type, &body)) {
            if (type == 'D')
                input.append(body);
        }
        if (line->incoming.size() == before)
            break; // half a message: the rest comes with the next look
    }
    return input;
}

void PseudoTerminal::send(const QByteArray &bytes)
{
    line->sendMessage('W', bytes);
}

qint64 PseudoTerminal::pendingToSend()
{
    return line->ask('P', &input).toLongLong();
}

qint64 PseudoTerminal::stopReading()
{
    reading = false;
    return line->ask('S', &input).toLongLong();
}

void PseudoTerminal::resumeReading()
{
    reading = true;
    line->sendMessage('R');
}

bool PseudoTerminal::lineSettings(LineSettings *settings) const
{
    const QList<QByteArray> fields = line->ask('L', &input).split(' ');
    if (fields.size() != 13)
        return false;
    const auto number = [&fields](int i) {
        return fields[i].toLongLong();
    };
    settings->inputBaud = int(number(0));
    settings->outputBaud = int(number(1));
    settings->dataBits = int(number(2));
    settings->twoStopBits = number(3);
    settings->parity = number(4);
    settings->hardwareFlow = number(5);
    settings->softwareFlow = number(6) || number(7);
    settings->outputProcessing = number(8);
    settings->canonical = number(9);
    settings->echo = number(10);
    settings->localFlags = quint32(number(11));
    settings->outputFlags = quint32(number(12));
    return true;
}

void PseudoTerminal::unplug()
{
    line->ask('U', &input); // answered once the terminal is gone, as unplug() is on Linux
}

void PseudoTerminal::refuseOpenings()
{
    line->sendMessage('H');
    line->ask('P', &input); // answered once the host has done it
}
