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

static double magnitude(double x)
{
    return x < 0 ? -x : x;
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
    static const float initial[TUNER_KNOWN_PARAMETERS] = {1, 0, 0, 10, 0, 0, 0, 10, 0};
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
        {7, 0x3F800000u, 1}, /* the relay on, 1 */
        {7, 0x3F800001u, 0}, /* above 1 */
        {8, 0x43480000u, 1}, /* relay amplitude 200, the output's limit */
        {8, 0x43480001u, 0},
        {9, 0x3F800000u, TUNER_DEAD_TIME_MAX_MS >= 1000}, /* 1 s of dead time */
        {9, 0x3E4CCCCDu, 1}, /* 0.2 s, on every board */
        {9, 0xBF800000u, 0}, /* -1 */
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

    /* 16 slots: the 9 known, 44, 255 and 250, 4 more, then no new one, but a known one still. */
    for (identifier = 100; identifier < 104; ++identifier)
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
        /* Kp, Ki, Kd, integral limit, set-point, filter, relay, its amplitude, dead time */
        float parameter[TUNER_KNOWN_PARAMETERS];
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
        /* Dead time: nothing reaches the plant for 0.1 s, not even in the last of them; then
         * it answers the output of the step's first 0.1 s, Kp sp while y was still 0:
         * y = 10 (1 - 0.998^100), 1.8143 (the continuous plant's 10 (1 - e^-0.2) is 1.8127). */
        {{1, 0, 0, 10, 10, 0, 0, 10, 0.1f}, 100, 0, 0},
        {{1, 0, 0, 10, 10, 0, 0, 10, 0.1f}, 200, 1.8143f, 0.0005f},
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

/* The relay on the plant with dead time theta oscillates with an amplitude and period known
 * exactly for the continuous plant (gain K 1, tau): a = K d (1 - e^(-theta/tau)) and
 * Tu = 2 tau ln(2 e^(theta/tau) - 1). Also from a loop at rest away from the set-point (P alone
 * leaves y at Kp/(1+Kp) of it), where the relay must find its bias; and switched off, the PID
 * takes over again. */
static void relay_cycle(void)
{
    static const struct
    {
        float kp, setpoint, d, theta;
        double a, period; /* from the formulas */
    } cases[] = {
        {1, 0, 10, 0.1f, 1.81269, 0.36659},
        {1, 50, 40, 0.1f, 7.25077, 0.36659}, /* from y 25, u 25 */
        {1, -20, 15, 0.3f, 6.76783, 0.97238},
    };
    size_t i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const double a = cases[i].a, period = cases[i].period;
        float low = TUNER_OUTPUT_LIMIT, high = -TUNER_OUTPUT_LIMIT, previous_u = 0;
        uint32_t first = 0, last = 0, cycles = 0, ms;
        tuner t;
        char line[TUNER_LINE_SIZE];
        tuner_init(&t);
        send(&t, TUNER_KP, bits_of(cases[i].kp), line);
        send(&t, TUNER_SETPOINT, bits_of(cases[i].setpoint), line);
        send(&t, TUNER_DEAD_TIME, bits_of(cases[i].theta), line);
        send(&t, TUNER_RELAY_AMPLITUDE, bits_of(cases[i].d), line);
        for (ms = 0; ms < 5000; ++ms)
            tuner_step(&t, 0, line);
        send(&t, TUNER_RELAY, bits_of(1), line);
        /* 10 s to find its bias, 5 s measured. */
        for (ms = 0; ms < 15000; ++ms) {
            tuner_step(&t, 0, line);
            if (ms < 10000)
                continue;
            low = t.plant < low ? t.plant : low;
            high = t.plant > high ? t.plant : high;
            if (t.output > previous_u + cases[i].d) { /* up to the high side */
                if (cycles++ == 0)
                    first = ms;
                last = ms;
            }
            previous_u = t.output;
        }
        check(magnitude((high - low) / 2 / a - 1) < 0.01, "relay amplitude, case", i, __LINE__);
        check(magnitude((high + low) / 2 - cases[i].setpoint) < 0.01 * a, "around the set-point", i,
              __LINE__);
        check(cycles > 3 && magnitude((last - first) / 1000.0 / (cycles - 1) / period - 1) < 0.01,
              "relay period, case", i, __LINE__);

        send(&t, TUNER_RELAY, bits_of(0), line);
        for (ms = 0; ms < 10000; ++ms)
            tuner_step(&t, 0, line);
        check(magnitude(t.plant - cases[i].setpoint * cases[i].kp / (1 + cases[i].kp)) < 0.01,
              "the PID again", i, __LINE__);
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
    relay_cycle();
    loop_lines();
    ring_order();
    printf("test_tuner: %d checks, %d failed (int is %d bits, %s-endian)\n", checks, failures,
           (int)(sizeof(int) * 8), *(const uint8_t *)&probe ? "little" : "big");
    return failures ? 1 : 0;
}
