/* SPDX-License-Identifier: MIT */
/*
 * The decisions of the firmware's board-independent code: which frames it takes into which
 * slot, its limits, its loop, its stream, its receive ring. Run on the machine that builds it
 * and, cross-built, under qemu-user on a big-endian one (s390x), where a decoder that copied
 * the value bytes into the float as they came would read 1.5 as 00 00 C0 3F. Plain C, no test
 * framework, so that it builds wherever a C compiler and libc are. What the report lines look
 * like is the end-to-end test's business (tests/e2e).
 */
#include "ring.h"
#include "tuner.h"

#include <stdio.h>
#include <string.h>

static int checks, failures;

static void check(int ok, const char *what, unsigned long detail, int line)
{
    ++checks;
    if (!ok) {
        ++failures;
        printf("test_tuner.c:%d: %s (%lu, %#lx)\n", line, what, detail, detail);
    }
}

static uint32_t bits_of(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

/* The frame pidtune sends, the value's least significant byte first; returns the report's
 * length. */
static unsigned send(tuner *t, uint8_t identifier, uint32_t bits, char line[TUNER_LINE_SIZE])
{
    uint8_t wire[9] = {0x05, 0xFA, 0x06, 0, 0x04};
    unsigned length = 0, i;
    wire[3] = identifier;
    for (i = 0; i < 4; ++i)
        wire[5 + i] = (uint8_t)(bits >> 8 * i);
    for (i = 0; i < sizeof wire; ++i)
        length = tuner_receive(t, wire[i], line);
    return length;
}

static void parameters(void)
{
    static const float initial[TUNER_KNOWN_PARAMETERS] = {1, 0, 0, 10, 0, 0};
    static const struct
    {
        uint8_t identifier;
        uint32_t bits;
        int taken;
    } frames[] = {
        {3, 0x3FC00000u, 1}, /* 1.5 */
        {1, 0xBF800000u, 0}, /* -1: Kp from 0 to 100 */
        {1, 0x42C80000u, 1}, /* 100 */
        {1, 0x42C80001u, 0}, /* the float just above 100 */
        {3, 0x41280000u, 0}, /* 10.5: Kd and the filter only to 10 */
        {6, 0x41280000u, 0}, /* 10.5 */
        {6, 0x41200000u, 1}, /* 10 */
        {4, 0x42C80000u, 1}, /* integral limit 100 */
        {5, 0xC2C80000u, 1}, /* set-point -100 */
        {5, 0xC2C80001u, 0}, /* just below it */
        {0, 0x7FC00000u, 0}, /* NaN, never */
        {44, 0x3F33328Bu, 1}, /* 0.69999: any other identifier within +-100000 */
        {255, 0xC7C35000u, 1}, /* -100000 */
        {255, 0xC7C35001u, 0}, /* just below it */
        {TUNER_STALL, 0x447A0000u, 1}, /* 1000 ms, the most */
        {TUNER_STALL, 0x447A4000u, 0}, /* 1001 */
    };
    tuner t;
    char line[TUNER_LINE_SIZE];
    uint8_t identifier;
    size_t i;
    tuner_init(&t);
    for (identifier = 1; identifier <= TUNER_KNOWN_PARAMETERS; ++identifier)
        check(tuner_parameter(&t, identifier) == initial[identifier - 1], "at start", identifier,
              __LINE__);
    for (i = 0; i < sizeof frames / sizeof frames[0]; ++i) {
        const uint32_t before = bits_of(tuner_parameter(&t, frames[i].identifier));
        const int taken = send(&t, frames[i].identifier, frames[i].bits, line) > 0
            && strncmp(line, "param ", 6) == 0;
        check(taken == frames[i].taken && !strstr(line, "reason=full"), "taken", i, __LINE__);
        check(bits_of(tuner_parameter(&t, frames[i].identifier))
                  == (frames[i].taken ? frames[i].bits : before),
              "stored", i, __LINE__);
    }

    /* The stall is asked for once, by the frame just taken, never by one refused (1001). */
    check(tuner_take_stall(&t) == 0u, "refused stall", 1001, __LINE__);
    send(&t, TUNER_STALL, 0x42C80000u, line);
    check(tuner_take_stall(&t) == 100u && tuner_take_stall(&t) == 0u, "stall", 100, __LINE__);

    /* 16 slots: 44, 255 and 250, 7 more identifiers, then no new one, but a known one still. */
    for (identifier = 100; identifier < 107; ++identifier)
        check(send(&t, identifier, 0x40000000u, line) && strncmp(line, "param ", 6) == 0,
              "a free slot", identifier, __LINE__);
    send(&t, 200, 0x40400000u, line);
    check(strstr(line, "reason=full") && tuner_parameter(&t, 200) == 0.0f, "no slot", 200,
          __LINE__);
    send(&t, 100, 0x40800000u, line);
    check(tuner_parameter(&t, 100) == 4.0f, "a slot it has", 100, __LINE__);
}

static void loop(void)
{
    static const struct
    {
        float parameter[TUNER_KNOWN_PARAMETERS]; /* Kp, Ki, Kd, integral limit, set-point, filter */
        uint32_t ms;
        float y, tolerance;
    } cases[] = {
        /* Proportional only: the plant settles short of the set-point, at kp/(1+kp) of it. */
        {{1, 0, 0, 10, 10, 0}, 5000, 5, 0.01f},
        {{3, 0, 0, 10, -8, 0}, 5000, -6, 0.01f},
        {{1, 2, 0, 100, 10, 0}, 10000, 10, 0.01f}, /* PI reaches the set-point */
        {{0, 50, 0, 3, 10, 0}, 10000, 3, 0.01f}, /* the integral held at its limit */
        /* 100 ms after a step the output is still held at its limit: y = 200 (1 - 0.998^100). */
        {{100, 0, 0, 0, 100, 0}, 100, 36.2866f, 0.01f},
        /* Kd on y, not on the error: tau' = (tau + kd)/(1 + kp), y = 5 (1 - e^(-t/tau')). */
        {{1, 0, 0.5f, 10, 10, 0}, 500, 3.16060f, 0.02f},
        /* A filter of tau makes it second order: y = 5 (1 - e^(-t/tau) (cos t/tau + sin t/tau)). */
        {{1, 0, 0, 10, 10, 0.5f}, 500, 2.45829f, 0.02f},
    };
    size_t i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        tuner t;
        char line[TUNER_LINE_SIZE];
        uint32_t ms;
        uint8_t id;
        tuner_init(&t);
        for (id = 1; id <= TUNER_KNOWN_PARAMETERS; ++id)
            send(&t, id, bits_of(cases[i].parameter[id - 1]), line);
        for (ms = 0; ms < cases[i].ms; ++ms)
            tuner_step(&t, 0, line);
        check(t.plant >= cases[i].y - cases[i].tolerance
                  && t.plant <= cases[i].y + cases[i].tolerance,
              "y, case", i, __LINE__);
    }
}

/* The loop's lines: t, sp, y and u every 20 ms, and with each full second the state line. */
static void loop_lines(void)
{
    tuner t;
    char line[TUNER_LINE_SIZE], expected[TUNER_LINE_SIZE], y[TUNER_NUMBER_SIZE],
        u[TUNER_NUMBER_SIZE];
    unsigned long ms;
    tuner_init(&t);
    send(&t, TUNER_KP, bits_of(5.0f), line);
    send(&t, TUNER_SETPOINT, bits_of(50.0f), line);
    for (ms = 1; ms <= 2 * TUNER_STATE_EVERY_MS; ++ms) {
        const unsigned length = tuner_step(&t, 7, line);
        tuner_format_value(t.plant, y);
        tuner_format_value(t.output, u);
        expected[0] = '\0';
        if (ms % 20u == 0u)
            snprintf(expected, sizeof expected, "t=%lu sp=50 y=%s u=%s\r\n", ms, y, u);
        if (ms % TUNER_STATE_EVERY_MS == 0u)
            snprintf(expected + strlen(expected), sizeof expected - strlen(expected),
                     "state t=%lu sp=50 y=%s u=%s overruns=7\r\n", ms, y, u);
        check(strcmp(length ? line : "", expected) == 0 && length == strlen(expected), "loop lines",
              ms, __LINE__);
    }
}

static void ring_order(void)
{
    ring r;
    unsigned in = 0, out = 0;
    int got;
    memset(&r, 0, sizeof r);
    /* Filled to the brim and emptied three times, so that the indices wrap round. */
    while (in < 3u * (RING_SIZE - 1u)) {
        while (!ring_full(&r))
            ring_put(&r, (uint8_t)in++);
        check(in % (RING_SIZE - 1u) == 0u, "a full ring holds RING_SIZE - 1", in, __LINE__);
        while ((got = ring_get(&r)) >= 0)
            check((unsigned)got == (out++ & 0xFFu), "next out", (unsigned long)got, __LINE__);
    }
}

int main(void)
{
    const uint16_t probe = 1;
    parameters();
    loop();
    loop_lines();
    ring_order();
    printf("test_tuner: %d checks, %d failed (int is %d bits, %s-endian)\n", checks, failures,
           (int)(sizeof(int) * 8), *(const uint8_t *)&probe ? "little" : "big");
    return failures ? 1 : 0;
}
