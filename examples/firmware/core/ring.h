/* SPDX-License-Identifier: MIT */
/*
 * Received bytes, from the UART's interrupt to the main loop: one producer (the interrupt), one
 * consumer (the loop), no locks. The indices are single bytes, so reading and writing each is
 * atomic on an 8-bit AVR as on a Cortex-M.
 */
#ifndef RING_H
#define RING_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A power of two, at most 256; one slot stays empty to tell full from empty. */
#define RING_SIZE 64

typedef struct ring
{
    volatile uint8_t head; /* written by the producer only */
    volatile uint8_t tail; /* written by the consumer only */
    volatile uint8_t data[RING_SIZE];
} ring;

static inline int ring_full(const ring *r)
{
    return (uint8_t)((r->head + 1u) & (RING_SIZE - 1u)) == r->tail;
}

/* The producer checks ring_full first: a full ring leaves the byte in the UART (see the
 * boards' receive interrupts), so nothing is dropped here. */
static inline void ring_put(ring *r, uint8_t byte)
{
    const uint8_t head = r->head;
    r->data[head] = byte;
    r->head = (uint8_t)((head + 1u) & (RING_SIZE - 1u));
}

/* The next byte, or -1 when the ring is empty. */
static inline int ring_get(ring *r)
{
    const uint8_t tail = r->tail;
    uint8_t byte;
    if (tail == r->head)
        return -1;
    byte = r->data[tail];
    r->tail = (uint8_t)((tail + 1u) & (RING_SIZE - 1u));
    return byte;
}

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* RING_H */
