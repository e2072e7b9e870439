/* SPDX-License-Identifier: MIT */
/*
 * Board glue for an ATmega328P at 16 MHz (an Arduino Uno's chip), as simavr emulates it: USART0
 * receives the frames (interrupt-driven), the report lines go out byte by byte through GPIOR0,
 * which the simulator host program prints, Timer1 paces the loop at 1 kHz, and the core idles
 * in sleep mode between interrupts. Everything else is in core/, which here runs with 8-bit
 * registers and a 16-bit int.
 */
#include "ring.h"
#include "tuner.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <stdint.h>

#ifdef PIDTUNE_SIMAVR
#include <avr/avr_mcu_section.h>
/* Tells simavr which chip and clock to emulate; kept out of flash by the link options. */
AVR_MCU(F_CPU, "atmega328p");
#endif

/* 115200 baud from 16 MHz with double speed: UBRR 16, 2.1 % fast, as on an Arduino. */
#define UBRR_VALUE 16u

static ring received;
static volatile uint8_t ticks; /* milliseconds, counted by Timer1; wraps */
static volatile uint8_t overruns; /* times the USART lost bytes (data overrun), wraps */

/* The USART's next byte into the ring. DOR0 tells that bytes were lost before this one, and
 * reading UDR0 clears it: so it is counted here, on every path that reads UDR0. */
static void take_byte(void)
{
    if (UCSR0A & _BV(DOR0))
        ++overruns;
    ring_put(&received, UDR0);
}

ISR(USART_RX_vect)
{
    if (ring_full(&received)) {
        /* Leave the byte in UDR0 and stop listening until the loop has caught up: simavr then
         * holds the rest; a real line overruns, which take_byte counts. */
        UCSR0B &= (uint8_t)~_BV(RXCIE0);
        return;
    }
    take_byte();
}

ISR(TIMER1_COMPA_vect)
{
    ticks = (uint8_t)(ticks + 1u);
}

/* Stands still for the test parameter TUNER_STALL, spinning on the tick count in RAM while
 * the interrupts go on. */
static void hold(uint16_t ms)
{
    while (ms-- > 0u) {
        const uint8_t now = ticks;
        while (ticks == now) { }
    }
}

static void log_line(const char *line)
{
    /* Without simavr, write to a second (software) UART or a display here instead. */
    while (*line)
        GPIOR0 = (uint8_t)*line++;
}

int main(void)
{
    static tuner t;
    static char line[TUNER_LINE_SIZE];
    uint8_t done = 0;
    int byte;

    UCSR0A = _BV(U2X0);
    UBRR0 = UBRR_VALUE;
    UCSR0C = _BV(UCSZ01) | _BV(UCSZ00); /* 8N1 */
    UCSR0B = _BV(RXEN0) | _BV(RXCIE0);

    /* CTC at F_CPU / 64 / 250 = 1 kHz */
    OCR1A = (uint16_t)(F_CPU / 64u / 1000u - 1u);
    TCCR1B = _BV(WGM12) | _BV(CS11) | _BV(CS10);
    TIMSK1 = _BV(OCIE1A);

    tuner_init(&t);
    tuner_ready("atmega328p", line);
    log_line(line);
    sei();

    for (;;) {
        /* One frame per pass, the loop's due steps in between: a flood of frames must not
         * hold up the controller (nor its clock, which counts only 255 ms ahead). */
        while ((byte = ring_get(&received)) >= 0) {
            if (tuner_receive(&t, (uint8_t)byte, line)) {
                log_line(line);
                hold(tuner_take_stall(&t));
                break;
            }
        }
        if (!(UCSR0B & _BV(RXCIE0)) && !ring_full(&received)) {
            /* Room again: take what the USART holds, then listen again. Done here rather than
             * by the interrupt, which simavr does not raise again for a byte already waiting. */
            cli();
            while ((UCSR0A & _BV(RXC0)) && !ring_full(&received))
                take_byte();
            UCSR0B |= _BV(RXCIE0);
            sei();
        }
        while (done != ticks) {
            ++done;
            if (tuner_step(&t, overruns, line))
                log_line(line);
        }
        /* Sleep unless an interrupt came in meanwhile: SEI takes effect after the next
         * instruction, so nothing can slip in between it and SLEEP. */
        cli();
        if (received.head == received.tail && done == ticks) {
            SMCR = _BV(SE); /* idle: the USART and the timers keep running */
            sei();
            __asm__ __volatile__("sleep" ::: "memory");
            SMCR = 0;
        }
        sei();
    }
}
