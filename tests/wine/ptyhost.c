/* SPDX-License-Identifier: MIT */
/* The device's side of a serial line for tests that run as Windows programs under Wine.
 *
 * A Windows program cannot make a pseudo-terminal, but Wine opens COMn as whatever the symlink
 * dosdevices/comN in its prefix names. This host, a Linux program, makes a pseudo-terminal for
 * each test device that asks, links it there as a free COM port, and plays the device's end for
 * the test over a TCP connection on 127.0.0.1: what the program under test writes to COMn comes
 * to the test, what the test sends goes to the program, and the test can stop reading, ask for
 * the line settings the program set, or unplug the device (the pseudo-terminal hangs up).
 *
 *   pidtune-ptyhost DOSDEVICES_FOLDER PORT_FILE
 * listens on an ephemeral port, writes its number to PORT_FILE, and serves until SIGTERM.
 *
 * Messages both ways: a type byte, a 4-byte little-endian length, the payload.
 *   host -> test  'N' the COM port's name, first;  'D' bytes the program wrote;
 *                 'A' the answer to a question, as text
 *   test -> host  'W' bytes for the program;  'P' how many of them wait (answer: count);
 *                 'S' stop reading and fill the line (answer: the filler's size);
 *                 'R' read again;  'L' the line settings (answer: "ispeed ospeed csize cstopb
 *                 parenb crtscts ixon ixoff opost icanon echo lflag oflag");
 *                 'H' answer "access denied" to whoever opens the port from now on, as Windows
 *                 does for a port another program holds (Wine lets a second opening succeed);
 *                 'U' unplug (answer: once done)
 * The test closing its connection unplugs the device and removes the link. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

enum { kMaxDevices = 32, kFirstPort = 10, kLastPort = 99 };

struct buffer {
    char *data;
    size_t size;
};

struct device {
    int client; /* -1: unused */
    int master, slave;
    int reading;
    int port; /* COMn */
    char path[64];
    struct buffer in; /* from the test, parsed into messages */
    struct buffer toProgram; /* bytes waiting for the line */
};

static struct device devices[kMaxDevices];
static const char *dosdevices;
static volatile sig_atomic_t stopping;

static void append(struct buffer *b, const void *data, size_t size)
{
    char *grown = realloc(b->data, b->size + size + 1);
    if (!grown) {
        perror("pidtune-ptyhost");
        exit(1);
    }
    b->data = grown;
    memcpy(b->data + b->size, data, size);
    b->size += size;
}

static void consume(struct buffer *b, size_t size)
{
    memmove(b->data, b->data + size, b->size - size);
    b->size -= size;
}

static void sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= (size_t)n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd w = {fd, POLLOUT, 0};
            poll(&w, 1, 1000);
        } else {
            return; /* the test went away; its end is noticed when reading */
        }
    }
}

static void message(int fd, char type, const void *payload, size_t size)
{
    char head[5] = {type, (char)(size & 0xff), (char)((size >> 8) & 0xff),
                    (char)((size >> 16) & 0xff), (char)((size >> 24) & 0xff)};
    sendAll(fd, head, sizeof head);
    sendAll(fd, payload, size);
}

static void answer(struct device *d, const char *format, ...) __attribute__((format(printf, 2, 3)));
static void answer(struct device *d, const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    message(d->client, 'A', text, (size_t)n);
}

static void linkName(int port, char *name, size_t size)
{
    snprintf(name, size, "%s/com%d", dosdevices, port);
}

static void unplug(struct device *d)
{
    if (d->master >= 0)
        close(d->master);
    if (d->slave >= 0)
        close(d->slave);
    d->master = d->slave = -1;
    d->toProgram.size = 0;
}

static void release(struct device *d)
{
    char name[512];
    unplug(d);
    if (d->port > 0) {
        linkName(d->port, name, sizeof name);
        unlink(name);
    }
    close(d->client);
    free(d->in.data);
    free(d->toProgram.data);
    memset(d, 0, sizeof *d);
    d->client = d->master = d->slave = -1;
}

static int portInUse(int port)
{
    for (int i = 0; i < kMaxDevices; ++i) {
        if (devices[i].client >= 0 && devices[i].port == port)
            return 1;
    }
    return 0;
}

static void flushToProgram(struct device *d)
{
    while (d->master >= 0 && d->toProgram.size > 0) {
        const ssize_t n = write(d->master, d->toProgram.data, d->toProgram.size);
        if (n > 0)
            consume(&d->toProgram, (size_t)n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
}

/* Fills the line towards the device until it has stayed full for a while, as the Linux tests'
 * own device does: the kernel makes room for a moment after "full". */
static long long fill(struct device *d)
{
    const int writer = open(d->path, O_WRONLY | O_NOCTTY | O_NONBLOCK);
    static const char filler[512];
    long long filled = 0;
    struct pollfd writable = {writer, POLLOUT, 0};
    if (writer < 0)
        return 0;
    do {
        const size_t sizes[] = {sizeof filler, 1};
        for (int s = 0; s < 2; ++s) {
            ssize_t n;
            while ((n = write(writer, filler, sizes[s])) > 0)
                filled += n;
        }
    } while (poll(&writable, 1, 300) > 0);
    close(writer);
    return filled;
}

static void lineSettings(struct device *d)
{
    struct termios t;
    if (d->slave < 0 || tcgetattr(d->slave, &t) != 0) {
        answer(d, "none");
        return;
    }
    const speed_t speeds[] = {B9600, B19200, B38400, B57600, B115200, B230400};
    const int bauds[] = {9600, 19200, 38400, 57600, 115200, 230400};
    int ispeed = 0, ospeed = 0;
    for (int i = 0; i < 6; ++i) {
        if (cfgetispeed(&t) == speeds[i])
            ispeed = bauds[i];
        if (cfgetospeed(&t) == speeds[i])
            ospeed = bauds[i];
    }
    const int csize = (t.c_cflag & CSIZE) == CS8 ? 8 : (t.c_cflag & CSIZE) == CS7 ? 7
                    : (t.c_cflag & CSIZE) == CS6 ? 6 : 5;
    answer(d, "%d %d %d %d %d %d %d %d %d %d %d %u %u", ispeed, ospeed, csize,
           !!(t.c_cflag & CSTOPB), !!(t.c_cflag & PARENB), !!(t.c_cflag & CRTSCTS),
           !!(t.c_iflag & IXON), !!(t.c_iflag & IXOFF), !!(t.c_oflag & OPOST),
           !!(t.c_lflag & ICANON), !!(t.c_lflag & ECHO), (unsigned)t.c_lflag, (unsigned)t.c_oflag);
}

static void handle(struct device *d, char type, const char *payload, size_t size)
{
    switch (type) {
    case 'W':
        append(&d->toProgram, payload, size);
        flushToProgram(d);
        break;
    case 'P':
        flushToProgram(d);
        answer(d, "%zu", d->toProgram.size);
        break;
    case 'S':
        d->reading = 0;
        answer(d, "%lld", fill(d));
        break;
    case 'R':
        d->reading = 1;
        break;
    case 'L':
        lineSettings(d);
        break;
    case 'H':
        /* The terminal's permissions refuse every opening: Wine answers access denied. (Run as
         * root, the test's Wine must be without CAP_DAC_OVERRIDE: tests/wine/run-test.sh.) */
        if (chmod(d->path, 0) != 0)
            perror("pidtune-ptyhost: chmod");
        break;
    case 'U':
        unplug(d);
        answer(d, "unplugged");
        break;
    default:
        fprintf(stderr, "pidtune-ptyhost: unknown message '%c'\n", type);
        break;
    }
}

static void accepted(int client)
{
    struct device *d = NULL;
    for (int i = 0; i < kMaxDevices && !d; ++i) {
        if (devices[i].client < 0)
            d = &devices[i];
    }
    if (!d) {
        close(client);
        return;
    }
    memset(d, 0, sizeof *d);
    d->client = client;
    d->reading = 1;
    if (openpty(&d->master, &d->slave, d->path, NULL, NULL) != 0) {
        perror("pidtune-ptyhost: openpty");
        d->master = d->slave = -1;
        release(d);
        return;
    }
    fcntl(d->master, F_SETFL, fcntl(d->master, F_GETFL) | O_NONBLOCK);
    fcntl(d->master, F_SETFD, FD_CLOEXEC);
    fcntl(d->slave, F_SETFD, FD_CLOEXEC);
    fcntl(client, F_SETFL, fcntl(client, F_GETFL) | O_NONBLOCK);
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char name[512];
    for (int port = kFirstPort; port <= kLastPort && d->port == 0; ++port) {
        linkName(port, name, sizeof name);
        if (portInUse(port))
            continue;
        unlink(name); /* a link left by a host that was killed */
        if (symlink(d->path, name) == 0)
            d->port = port;
    }
    if (d->port == 0) {
        fprintf(stderr, "pidtune-ptyhost: no free COM port in %s\n", dosdevices);
        release(d);
        return;
    }
    char com[16];
    const int n = snprintf(com, sizeof com, "COM%d", d->port);
    message(client, 'N', com, (size_t)n);
}

static void onStop(int signalNumber)
{
    (void)signalNumber;
    stopping = 1;
}

int main(int argc, char *argv[])
{
    if (argc != 3) {
        fprintf(stderr, "usage: pidtune-ptyhost DOSDEVICES_FOLDER PORT_FILE\n");
        return 2;
    }
    dosdevices = argv[1];
    for (int i = 0; i < kMaxDevices; ++i)
        devices[i].client = devices[i].master = devices[i].slave = -1;
    signal(SIGTERM, onStop);
    signal(SIGINT, onStop);
    signal(SIGPIPE, SIG_IGN);

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in address = {0};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, (struct sockaddr *)&address, sizeof address) != 0
        || listen(listener, 16) != 0
        || getsockname(listener, (struct sockaddr *)&address, &length) != 0) {
        perror("pidtune-ptyhost");
        return 1;
    }
    char temporary[4096];
    snprintf(temporary, sizeof temporary, "%s.part", argv[2]);
    FILE *portFile = fopen(temporary, "w");
    if (!portFile || fprintf(portFile, "%d\n", ntohs(address.sin_port)) < 0 || fclose(portFile) != 0
        || rename(temporary, argv[2]) != 0) {
        perror(argv[2]);
        return 1;
    }

    while (!stopping) {
        struct pollfd watched[1 + 2 * kMaxDevices];
        struct device *owner[1 + 2 * kMaxDevices];
        nfds_t count = 0;
        watched[count] = (struct pollfd){listener, POLLIN, 0};
        owner[count++] = NULL;
        for (int i = 0; i < kMaxDevices; ++i) {
            struct device *d = &devices[i];
            if (d->client < 0)
                continue;
            watched[count] = (struct pollfd){d->client, POLLIN, 0};
            owner[count++] = d;
            if (d->master >= 0) {
                short events = d->reading ? POLLIN : 0;
                if (d->toProgram.size > 0)
                    events |= POLLOUT;
                watched[count] = (struct pollfd){d->master, events, 0};
                owner[count++] = d;
            }
        }
        if (poll(watched, count, 200) < 0) {
            if (errno == EINTR)
                continue;
            perror("pidtune-ptyhost: poll");
            return 1;
        }
        if (watched[0].revents & POLLIN) {
            const int client = accept4(listener, NULL, NULL, SOCK_CLOEXEC);
            if (client >= 0)
                accepted(client);
        }
        for (nfds_t k = 1; k < count; ++k) {
            struct device *d = owner[k];
            if (d->client < 0 || !watched[k].revents)
                continue;
            char chunk[65536];
            if (watched[k].fd == d->client) {
                const ssize_t n = recv(d->client, chunk, sizeof chunk, 0);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                    release(d);
                    continue;
                }
                if (n > 0)
                    append(&d->in, chunk, (size_t)n);
                while (d->in.size >= 5) {
                    const unsigned char *h = (const unsigned char *)d->in.data;
                    const size_t size = h[1] | (h[2] << 8) | (h[3] << 16) | ((size_t)h[4] << 24);
                    if (d->in.size < 5 + size)
                        break;
                    handle(d, d->in.data[0], d->in.data + 5, size);
                    if (d->client < 0)
                        break;
                    consume(&d->in, 5 + size);
                }
            } else if (watched[k].fd == d->master) {
                if (watched[k].revents & POLLOUT)
                    flushToProgram(d);
                if (d->reading && (watched[k].revents & POLLIN)) {
                    const ssize_t n = read(d->master, chunk, sizeof chunk);
                    if (n > 0)
                        message(d->client, 'D', chunk, (size_t)n);
                }
            }
        }
    }
    for (int i = 0; i < kMaxDevices; ++i) {
        if (devices[i].client >= 0)
            release(&devices[i]);
    }
    return 0;
}
