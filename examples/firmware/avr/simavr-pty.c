/* SPDX-License-Identifier: MIT */
/*
 * Runs AVR firmware in simavr with its USART0 on a new pseudo-terminal, so that pidtune can open
 * it like a serial port:
 *
 *   pidtune-simavr-pty firmware.elf
 *   pty: /dev/pts/4
 *   ready board=atmega328p int=16 slots=16
 *
 * The first line names the terminal; after it comes what the firmware writes to GPIOR0, its
 * console register, unchanged. Bytes from the terminal go into the USART as fast as it takes
 * them (simavr paces them at the firmware's baud rate); what the USART sends goes to the
 * terminal. Runs until it is stopped by a signal, or the firmware crashes (exit 1).
 */
#define _DEFAULT_SOURCE
#include <avr_ioport.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>
#include <sim_io.h>
#include <sim_irq.h>
#include <sim_time.h>

#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

/* GPIOR0 in data space */
#define CONSOLE_REGISTER 0x3E
/* How often the terminal is looked at, in emulated time: a byte takes 87 us at 115200 baud. */
#define POLL_US 200

static int master = -1;
static avr_irq_t *uart_input;
static int uart_ready; /* the USART's input FIFO has room */
static uint8_t pending[256];
static ssize_t pending_at, pending_end;

static void console_write(avr_t *avr, avr_io_addr_t addr, uint8_t value, void *param)
{
    (void)avr;
    (void)addr;
    (void)param;
    putchar(value);
    if (value == '\n')
        fflush(stdout);
}

/* simavr's own messages go to standard error, and only errors: standard output is the log, and
 * the terminal's name must be its first line. */
static void quiet_logger(avr_t *avr, const int level, const char *format, va_list arguments)
{
    (void)avr;
    if (level <= LOG_ERROR)
        vfprintf(stderr, format, arguments);
}

static void feed(void)
{
    /* Each byte may fill the FIFO, and XOFF then clears uart_ready at once. */
    while (uart_ready && pending_at < pending_end)
        avr_raise_irq(uart_input, pending[pending_at++]);
}

static void uart_xon(avr_irq_t *irq, uint32_t value, void *param)
{
    (void)irq;
    (void)value;
    (void)param;
    uart_ready = 1;
    feed();
}

static void uart_xoff(avr_irq_t *irq, uint32_t value, void *param)
{
    (void)irq;
    (void)value;
    (void)param;
    uart_ready = 0;
}

static void uart_output(avr_irq_t *irq, uint32_t value, void *param)
{
    const uint8_t byte = (uint8_t)value;
    (void)irq;
    (void)param;
    /* Nobody may have the terminal open: then the byte is dropped, as on an unplugged line. */
    if (write(master, &byte, 1) < 0 && errno != EAGAIN && errno != EIO)
        perror("pidtune-simavr-pty: write");
}

static avr_cycle_count_t poll_terminal(avr_t *avr, avr_cycle_count_t when, void *param)
{
    (void)param;
    if (pending_at == pending_end) {
        /* EIO while no program has the terminal open, EAGAIN when nothing is waiting. */
        const ssize_t got = read(master, pending, sizeof pending);
        pending_at = 0;
        pending_end = got > 0 ? got : 0;
    }
    feed();
    return when + avr_usec_to_cycles(avr, POLL_US);
}

int main(int argc, char **argv)
{
    elf_firmware_t firmware;
    struct termios raw;
    uint32_t flags = 0;
    char path[128];
    int slave;
    avr_t *avr;

    if (argc != 2) {
        fprintf(stderr, "usage: %s firmware.elf\n", argv[0]);
        return 2;
    }
    avr_global_logger_set(quiet_logger);
    memset(&firmware, 0, sizeof firmware);
    if (elf_read_firmware(argv[1], &firmware) != 0) {
        fprintf(stderr, "pidtune-simavr-pty: cannot read %s\n", argv[1]);
        return 1;
    }
    if (!firmware.mmcu[0] || !firmware.frequency) {
        fprintf(stderr, "pidtune-simavr-pty: %s has no .mmcu section naming the MCU and clock\n",
                argv[1]);
        return 1;
    }
    avr = avr_make_mcu_by_name(firmware.mmcu);
    if (!avr) {
        fprintf(stderr, "pidtune-simavr-pty: simavr does not know %s\n", firmware.mmcu);
        return 1;
    }
    avr_init(avr);
    avr_load_firmware(avr, &firmware);

    /* Raw, like a serial line: no echo, no line editing, no CR/LF translation. */
    cfmakeraw(&raw);
    if (openpty(&master, &slave, path, &raw, NULL) != 0) {
        perror("pidtune-simavr-pty: openpty");
        return 1;
    }
    close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    /* Not simavr's own copy of the USART's output on stdout: that is the log's place. */
    avr_ioctl(avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
    flags &= ~(uint32_t)(AVR_UART_FLAG_STDIO | AVR_UART_FLAG_POLL_SLEEP);
    avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
    uart_input = avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XON),
                            uart_xon, NULL);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUT_XOFF),
                            uart_xoff, NULL);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT),
                            uart_output, NULL);
    avr_register_io_write(avr, CONSOLE_REGISTER, console_write, NULL);
    avr_cycle_timer_register_usec(avr, POLL_US, poll_terminal, NULL);

    printf("pty: %s\n", path);
    fflush(stdout);
    for (;;) {
        const int state = avr_run(avr);
        if (state == cpu_Done || state == cpu_Crashed) {
            fflush(stdout);
            fprintf(stderr, "pidtune-simavr-pty: the firmware %s\n",
                    state == cpu_Done ? "stopped" : "crashed");
            return 1;
        }
    }
}
