/* SPDX-License-Identifier: MIT */
/*
 * Runs AVR firmware in simavr with its USART0 on a new pseudo-terminal, so that pidtune can open
 * it like a serial port:
 *
 *   pidtune-simavr-pty [--real-line] firmware.elf
 *   pty: /dev/pts/4
 *   ready board=atmega328p int=16 slots=16
 *
 * The first line names the terminal; after it comes what the firmware writes to GPIOR0, its
 * console register, unchanged. Bytes from the terminal go into the USART as fast as it takes
 * them (simavr paces them at the firmware's baud rate), as if the line had flow control: none
 * is ever lost. With --real-line they come at the line's pace whether the firmware takes them or
 * not, and the USART holds only what the chip holds, so that a firmware too slow to take them
 * overruns, as it would on a wire. What the USART sends goes to the terminal. Runs until it is
 * stopped by a signal, or the firmware crashes (exit 1).
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
/* What an ATmega328P's USART holds: two received bytes, and a third in its shift register. */
#define CHIP_HOLDS 3

DEFINE_FIFO(uint16_t, uart_fifo);

static int master = -1;
static avr_uart_t *usart; /* USART0 */
static avr_irq_t *uart_input;
static int uart_ready; /* the USART's input FIFO has room */
static int real_line;
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
    while (uart_ready && !real_line && pending_at < pending_end)
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

static void read_terminal(void)
{
    if (pending_at == pending_end) {
        /* EIO while no program has the terminal open, EAGAIN when nothing is waiting. */
        const ssize_t got = read(master, pending, sizeof pending);
        pending_at = 0;
        pending_end = got > 0 ? got : 0;
    }
}

static avr_cycle_count_t poll_terminal(avr_t *avr, avr_cycle_count_t when, void *param)
{
    (void)param;
    read_terminal();
    feed();
    return when + avr_usec_to_cycles(avr, POLL_US);
}

/* --real-line: one byte every byte time. One that finds the USART full is lost, and the USART
 * says so in DOR0, as the chip does. */
static avr_cycle_count_t line_byte(avr_t *avr, avr_cycle_count_t when, void *param)
{
    (void)param;
    read_terminal();
    if (pending_at < pending_end) {
        const uint8_t byte = pending[pending_at++];
        if (uart_fifo_get_read_size(&usart->input) < CHIP_HOLDS)
            avr_raise_irq(uart_input, byte);
        else
            avr_regbit_setto(avr, usart->dor, 1);
    }
    /* Until the firmware sets the baud rate, look as often as without --real-line. */
    return when
        + (usart->cycles_per_byte ? usart->cycles_per_byte : avr_usec_to_cycles(avr, POLL_US));
}

int main(int argc, char **argv)
{
    elf_firmware_t firmware;
    struct termios raw;
    uint32_t flags = 0;
    char path[128];
    const char *image;
    avr_io_t *io;
    int slave;
    avr_t *avr;

    real_line = argc == 3 && strcmp(argv[1], "--real-line") == 0;
    if (argc != 2 + real_line) {
        fprintf(stderr, "usage: %s [--real-line] firmware.elf\n", argv[0]);
        return 2;
    }
    image = argv[1 + real_line];
    avr_global_logger_set(quiet_logger);
    memset(&firmware, 0, sizeof firmware);
    if (elf_read_firmware(image, &firmware) != 0) {
        fprintf(stderr, "pidtune-simavr-pty: cannot read %s\n", image);
        return 1;
    }
    if (!firmware.mmcu[0] || !firmware.frequency) {
        fprintf(stderr, "pidtune-simavr-pty: %s has no .mmcu section naming the MCU and clock\n",
                image);
        return 1;
    }
    avr = avr_make_mcu_by_name(firmware.mmcu);
    if (!avr) {
        fprintf(stderr, "pidtune-simavr-pty: simavr does not know %s\n", firmware.mmcu);
        return 1;
    }
    avr_init(avr);
    avr_load_firmware(avr, &firmware);
    for (io = avr->io_port; io && !usart; io = io->next) {
        if (strcmp(io->kind, "uart") == 0 && ((avr_uart_t *)io)->name == '0')
            usart = (avr_uart_t *)io;
    }
    if (!usart) {
        fprintf(stderr, "pidtune-simavr-pty: %s has no USART0\n", firmware.mmcu);
        return 1;
    }

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
    if (real_line)
        avr_cycle_timer_register_usec(avr, POLL_US, line_byte, NULL);
    else
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
