/* SPDX-License-Identifier: MIT */
/*
 * Board glue for the ARM MPS2 AN385 (Cortex-M3, 25 MHz), as QEMU emulates it: vector table and
 * start-up, UART0 receives the frames (interrupt-driven), UART1 carries the report lines,
 * SysTick paces the loop at 1 kHz, and the core sleeps in WFI when there is nothing to do.
 * Everything else is in core/.
 */
#include "ring.h"
#include "tuner.h"

#include <stdint.h>

#define SYSTEM_CLOCK_HZ 25000000u
#define BAUD 115200u

/* CMSDK APB UART */
typedef struct uart
{
    volatile uint32_t data;
    volatile uint32_t state; /* 0: TX full, 1: RX full, 2: TX overrun, 3: RX overrun */
    volatile uint32_t ctrl; /* 0: TX enable, 1: RX enable, 3: RX interrupt enable */
    volatile uint32_t intstatus; /* read: pending; write 1: clear */
    volatile uint32_t bauddiv;
} uart;
#define UART0 ((uart *)0x40004000u) /* the line pidtune talks on */
#define UART1 ((uart *)0x40005000u) /* the log */
#define UART_STATE_TX_FULL 0x1u
#define UART_STATE_RX_FULL 0x2u
#define UART_STATE_RX_OVERRUN 0x8u
#define UART_CTRL_TX_ENABLE 0x1u
#define UART_CTRL_RX_ENABLE 0x2u
#define UART_CTRL_RX_INTERRUPT 0x8u
#define UART_INT_RX 0x2u
#define UART0_RX_IRQ 0u

#define NVIC_ISER0 (*(volatile uint32_t *)0xE000E100u)
#define NVIC_ICER0 (*(volatile uint32_t *)0xE000E180u)
#define SYST_CSR (*(volatile uint32_t *)0xE000E010u)
#define SYST_RVR (*(volatile uint32_t *)0xE000E014u)
#define SYST_CVR (*(volatile uint32_t *)0xE000E018u)

static ring received;
static volatile uint8_t ticks; /* milliseconds, counted by SysTick; wraps */
static volatile uint32_t overruns;
static volatile uint8_t paused; /* the receive interrupt is masked: the ring was full */

void uart0_rx_handler(void)
{
    if (UART0->state & UART_STATE_RX_OVERRUN) {
        UART0->state = UART_STATE_RX_OVERRUN;
        ++overruns;
    }
    /* The UART holds one byte. Cleared before it is read: the next one raises the interrupt
     * again. */
    UART0->intstatus = UART_INT_RX;
    if (!(UART0->state & UART_STATE_RX_FULL))
        return;
    if (ring_full(&received)) {
        /* Leave the byte in the UART and stop listening until the loop has caught up: QEMU then
         * holds the rest on the host side; a real line would overrun, counted above. */
        NVIC_ICER0 = 1u << UART0_RX_IRQ;
        paused = 1;
        return;
    }
    ring_put(&received, (uint8_t)UART0->data);
}

void systick_handler(void)
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
    while (*line) {
        while (UART1->state & UART_STATE_TX_FULL) { }
        UART1->data = (uint8_t)*line++;
    }
}

int main(void)
{
    static tuner t; /* static: 200 bytes are better not on the stack */
    char line[TUNER_LINE_SIZE];
    uint8_t done = 0;
    int byte;

    /* On a real board: enable the UARTs' clocks and route their pins first. */
    UART1->bauddiv = SYSTEM_CLOCK_HZ / BAUD;
    UART1->ctrl = UART_CTRL_TX_ENABLE;
    UART0->bauddiv = SYSTEM_CLOCK_HZ / BAUD;
    UART0->ctrl = UART_CTRL_RX_ENABLE | UART_CTRL_RX_INTERRUPT;

    tuner_init(&t);
    tuner_ready("mps2-an385", line);
    log_line(line);

    NVIC_ISER0 = 1u << UART0_RX_IRQ;
    SYST_RVR = SYSTEM_CLOCK_HZ / 1000u - 1u;
    SYST_CVR = 0;
    SYST_CSR = 7u; /* processor clock, interrupt, enable */

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
        if (paused && !ring_full(&received)) {
            /* Room again: take what the UART holds, then listen again. Not before: the ring may
             * have filled again while this loop waited for the log, and a byte left in the UART
             * with its interrupt cleared would never be taken. */
            __asm volatile("cpsid i" ::: "memory");
            paused = 0;
            UART0->intstatus = UART_INT_RX;
            while ((UART0->state & UART_STATE_RX_FULL) && !ring_full(&received))
                ring_put(&received, (uint8_t)UART0->data);
            NVIC_ISER0 = 1u << UART0_RX_IRQ;
            __asm volatile("cpsie i" ::: "memory");
        }
        while (done != ticks) {
            ++done;
            if (tuner_step(&t, overruns, line))
                log_line(line);
        }
        /* Sleep unless an interrupt came in meanwhile: with interrupts masked, WFI still wakes
         * on one, and it is taken after CPSIE. */
        __asm volatile("cpsid i" ::: "memory");
        if (received.head == received.tail && done == ticks)
            __asm volatile("wfi");
        __asm volatile("cpsie i" ::: "memory");
    }
}

/* Start-up: copy initialised data, clear the rest, run main. */
extern uint32_t _data_start, _data_end, _data_load, _bss_start, _bss_end, _stack_top;

void reset_handler(void)
{
    uint32_t *from = &_data_load, *to = &_data_start;
    while (to < &_data_end)
        *to++ = *from++;
    for (to = &_bss_start; to < &_bss_end;)
        *to++ = 0;
    main();
    for (;;) { }
}

static void unexpected_handler(void)
{
    log_line("fault\r\n");
    for (;;) { }
}

typedef void (*handler)(void);

/* The initial stack pointer, then 15 system exceptions and the AN385's interrupts; only UART0's
 * receive interrupt (IRQ 0) is used. */
typedef struct vector_table
{
    uint32_t *stack;
    handler exceptions[15];
    handler interrupts[1];
} vector_table;

__attribute__((section(".vectors"), used)) static const vector_table vectors = {
    &_stack_top,
    {
        reset_handler,
        unexpected_handler, /* NMI */
        unexpected_handler, /* HardFault */
        unexpected_handler, /* MemManage */
        unexpected_handler, /* BusFault */
        unexpected_handler, /* UsageFault */
        0,
        0,
        0,
        0,
        unexpected_handler, /* SVCall */
        unexpected_handler, /* debug monitor */
        0,
        unexpected_handler, /* PendSV */
        systick_handler,
    },
    {uart0_rx_handler},
};
