/* SPDX-License-Identifier: MIT */
/*
 * The firmware's board-independent code, on the machine that builds it and, cross-built,
 * under qemu-user on a big-endian one (s390x), where a decoder that copied the value bytes
 * into the float as they came would read 1.5 as 00 00 C0 3F. Plain C, no test framework, so
 * that it builds wherever a C compiler and libc are.
 */
#include "ring.h"
#include "tuner.h"

#include <stdio.h>
#include <string.h>

static int checks, failures;

static void check(int ok, const char *what, const char *got, const char *expected, int line)
{
    ++checks;
    if (ok)
        return;
    ++failures;
    printf("test_tuner.c:%d: %s\n  got:      %s\n  expected: %s\n", line, what, got, expected);
}

static void check_text(const char *what, const char *got, const char *expected, int line)
{
    check(strcmp(got, expected) == 0, what, got, expected, line);
}

static void check_unsigned(const char *what, unsigned long got, unsigned long expected, int line)
{
    char g[24], e[24];
    snprintf(g, sizeof g, "%#lx (%lu)", got, got);
    snprintf(e, sizeof e, "%#lx (%lu)", expected, expected);
    check(got == expected, what, g, e, line);
}

static uint32_t bits_of(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

static float float_of(uint32_t bits)
{
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

/* "05 FA 06 ..." to bytes; returns the count. */
static size_t from_hex(const char *text, uint8_t *out)
{
    size_t count = 0;
    unsigned byte;
    int used;
    while (sscanf(text, " %2x%n", &byte, &used) == 1) {
        out[count++] = (uint8_t)byte;
        text += used;
    }
    return count;
}

static void decoder_byte_order(void)
{
    /* The frames pidtune sends for these values, as on the wire. */
    static const struct
    {
        const char *wire;
        unsigned identifier;
        uint32_t bits;
    } frames[] = {
        {"05 FA 06 03 04 00 00 C0 3F", 3, 0x3FC00000u}, /* 1.5 */
        {"05 FA 06 2C 04 8B 32 33 3F", 44, 0x3F33328Bu}, /* 0.69999 */
        {"05 FA 06 FF 04 FD 87 45 41", 255, 0x414587FDu}, /* 12.3457 */
        {"05 FA 06 00 04 00 00 C0 BF", 0, 0xBFC00000u}, /* -1.5 */
        {"05 FA 06 80 04 AC C5 27 37", 128, 0x3727C5ACu}, /* 1e-05 */
        {"05 FA 06 07 04 9A C5 A7 C6", 7, 0xC6A7C59Au}, /* -21474.8 */
    };
    size_t i, j;
    for (i = 0; i < sizeof frames / sizeof frames[0]; ++i) {
        pidtune_frame_decoder decoder;
        pidtune_frame frame;
        uint8_t wire[9];
        int done = 0;
        from_hex(frames[i].wire, wire);
        pidtune_frame_decoder_init(&decoder);
        for (j = 0; j < sizeof wire; ++j)
            done = pidtune_frame_decoder_feed(&decoder, wire[j], &frame);
        check_unsigned(frames[i].wire, (unsigned long)done, 1, __LINE__);
        check_unsigned(frames[i].wire, frame.identifier, frames[i].identifier, __LINE__);
        check_unsigned(frames[i].wire, bits_of(frame.value), frames[i].bits, __LINE__);
        check(frame.value == float_of(frames[i].bits), frames[i].wire, "a different float",
              "the same float", __LINE__);
    }
}

static void value_text(void)
{
    static const struct
    {
        uint32_t bits;
        const char *text;
    } values[] = {
        {0x3FC00000u, "1.5"},
        {0xBFC00000u, "-1.5"},
        {0x3F33328Bu, "0.69999"}, /* 0.699989974... */
        {0x414587FDu, "12.3457"},
        {0xC6A7C59Au, "-21474.80078"}, /* -21474.80078125 */
        {0x3727C5ACu, "0.00001"}, /* 9.99999975e-06 rounds up */
        {0x36A7C5ACu, "0"}, /* 5e-06 less a little rounds down */
        {0x3C800000u, "0.01563"}, /* 2^-6 = 0.015625: a half, away from zero */
        {0xBC800000u, "-0.01563"},
        {0x3F7FFFFFu, "1"}, /* 0.99999994: the fraction carries into the whole part */
        {0x47C35000u, "100000"},
        {0x4F7FFFFFu, "4294967040"}, /* the largest float below 2^32 */
        {0x4F800000u, "ovf"}, /* 2^32 */
        {0xFA050000u, "-ovf"},
        {0x00000000u, "0"},
        {0x80000000u, "0"}, /* -0: no sign on zero */
        {0x00000001u, "0"}, /* the smallest subnormal */
        {0x7F800000u, "inf"},
        {0xFF800000u, "-inf"},
        {0x7FC12345u, "nan"},
    };
    size_t i;
    for (i = 0; i < sizeof values / sizeof values[0]; ++i) {
        char text[TUNER_NUMBER_SIZE];
        char what[32];
        unsigned length = tuner_format_value(float_of(values[i].bits), text);
        snprintf(what, sizeof what, "value with bits %08lx", (unsigned long)values[i].bits);
        check_text(what, text, values[i].text, __LINE__);
        check_unsigned(what, length, (unsigned long)strlen(values[i].text), __LINE__);
    }
}

/* Feeds the bytes and returns every report line, one after the other. */
static void receive(tuner *t, const char *hex, char *lines, size_t size)
{
    uint8_t bytes[256];
    size_t count = from_hex(hex, bytes), i, used = 0;
    lines[0] = '\0';
    for (i = 0; i < count; ++i) {
        char line[TUNER_LINE_SIZE];
        unsigned length = tuner_receive(t, bytes[i], line);
        if (length && used + length < size) {
            check_unsigned("line length", length, (unsigned long)strlen(line), __LINE__);
            memcpy(lines + used, line, length + 1);
            used += length;
        }
    }
}

static void reports(void)
{
    static const struct
    {
        const char *wire;
        const char *lines;
    } steps[] = {
        {"05 FA 06 2C 04 8B 32 33 3F", "param id=44 value=0.69999 bits=3f33328b skipped=0\r\n"},
        /* Limits of the known parameters, and NaN. */
        {"05 FA 06 05 04 9A C5 A7 C6",
         "reject id=5 value=-21474.80078 bits=c6a7c59a reason=range skipped=0\r\n"},
        {"05 FA 06 05 04 00 00 C8 C2", "param id=5 value=-100 bits=c2c80000 skipped=0\r\n"},
        {"05 FA 06 01 04 00 00 80 BF",
         "reject id=1 value=-1 bits=bf800000 reason=range skipped=0\r\n"},
        {"05 FA 06 03 04 00 00 28 41",
         "reject id=3 value=10.5 bits=41280000 reason=range skipped=0\r\n"},
        {"05 FA 06 00 04 00 00 C0 7F",
         "reject id=0 value=nan bits=7fc00000 reason=range skipped=0\r\n"},
        /* Noise, then a frame cut after 7 bytes that takes the next frame's header as value. */
        {"00 FF 05 FA 06 07 04 00 00 05 FA 06 2C 04 8B 32 33 3F 05 FA 06 FF 04 00 00 C0 BF",
         "reject id=7 value=-ovf bits=fa050000 reason=range skipped=2\r\n"
         "param id=255 value=-1.5 bits=bfc00000 skipped=9\r\n"},
    };
    tuner t;
    char lines[512];
    size_t i;
    tuner_init(&t);
    for (i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        receive(&t, steps[i].wire, lines, sizeof lines);
        check_text(steps[i].wire, lines, steps[i].lines, __LINE__);
    }
    check(tuner_parameter(&t, 44) == float_of(0x3F33328Bu), "parameter 44", "", "0.69999",
          __LINE__);
    check(tuner_parameter(&t, 5) == -100.0f, "set-point", "", "-100", __LINE__);
    check(tuner_parameter(&t, 1) == 1.0f, "Kp kept after a rejected value", "", "1", __LINE__);
    check(tuner_parameter(&t, 7) == 0.0f, "rejected identifier 7", "", "not stored", __LINE__);
}

/* Sends one frame as pidtune would; returns the report line's length and leaves it in line. */
static unsigned send(tuner *t, uint8_t identifier, float value, char line[TUNER_LINE_SIZE])
{
    const uint32_t bits = bits_of(value);
    const uint8_t wire[9] = {0x05,
                             0xFA,
                             0x06,
                             identifier,
                             0x04,
                             (uint8_t)bits,
                             (uint8_t)(bits >> 8),
                             (uint8_t)(bits >> 16),
                             (uint8_t)(bits >> 24)};
    unsigned length = 0;
    size_t i;
    for (i = 0; i < sizeof wire; ++i)
        length = tuner_receive(t, wire[i], line);
    return length;
}

static void table_full(void)
{
    tuner t;
    char line[TUNER_LINE_SIZE];
    uint8_t identifier;
    tuner_init(&t);
    for (identifier = 100; identifier < 100 + TUNER_SLOTS - TUNER_KNOWN_PARAMETERS; ++identifier) {
        send(&t, identifier, 2.0f, line);
        check(strncmp(line, "param ", 6) == 0, "a free slot", line, "param ...", __LINE__);
    }
    send(&t, 200, 3.0f, line);
    check_text("no slot left", line,
               "reject id=200 value=3 bits=40400000 reason=full skipped=0\r\n", __LINE__);
    send(&t, 100, 4.0f, line);
    check_text("a known slot", line, "param id=100 value=4 bits=40800000 skipped=0\r\n", __LINE__);
    check(tuner_parameter(&t, 100) == 4.0f, "slot 100 updated", "", "4", __LINE__);
    check(tuner_parameter(&t, 200) == 0.0f, "200 not stored", "", "0", __LINE__);
}

/* Runs the loop for the given time; returns the last state line's length. */
static unsigned run(tuner *t, uint32_t ms, char line[TUNER_LINE_SIZE])
{
    unsigned last = 0, length;
    uint32_t i;
    for (i = 0; i < ms; ++i) {
        if ((length = tuner_step(t, 3, line)) != 0)
            last = length;
    }
    return last;
}

static void check_near(const char *what, float got, float expected, float tolerance, int line)
{
    char g[TUNER_NUMBER_SIZE], e[TUNER_NUMBER_SIZE];
    tuner_format_value(got, g);
    tuner_format_value(expected, e);
    check(got >= expected - tolerance && got <= expected + tolerance, what, g, e, line);
}

static void loop(void)
{
    static const struct
    {
        const char *what;
        float kp, ki, integral_limit, setpoint, filter;
        uint32_t ms;
        float y; /* where the plant settles */
    } cases[] = {
        /* Proportional only: the plant settles short of the set-point, at kp/(1+kp) of it. */
        {"P", 1.0f, 0.0f, 10.0f, 10.0f, 0.0f, 5000, 5.0f},
        {"P, negative set-point", 3.0f, 0.0f, 10.0f, -8.0f, 0.0f, 5000, -6.0f},
        {"PI reaches the set-point", 1.0f, 2.0f, 100.0f, 10.0f, 0.0f, 10000, 10.0f},
        {"integral held at its limit", 0.0f, 50.0f, 3.0f, 10.0f, 0.0f, 10000, 3.0f},
        /* 100 ms after a step the output is still held at its limit: y = 200 (1 - 0.998^100). */
        {"output limit", 100.0f, 0.0f, 0.0f, 100.0f, 0.0f, 100, 36.2866f},
        {"with the output filter", 1.0f, 2.0f, 100.0f, 10.0f, 0.2f, 20000, 10.0f},
    };
    size_t i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        tuner t;
        char line[TUNER_LINE_SIZE];
        tuner_init(&t);
        send(&t, TUNER_KP, cases[i].kp, line);
        send(&t, TUNER_KI, cases[i].ki, line);
        send(&t, TUNER_INTEGRAL_LIMIT, cases[i].integral_limit, line);
        send(&t, TUNER_OUTPUT_FILTER, cases[i].filter, line);
        send(&t, TUNER_SETPOINT, cases[i].setpoint, line);
        check(strncmp(line, "param id=5 ", 11) == 0, cases[i].what, line, "param id=5 ...",
              __LINE__);
        run(&t, cases[i].ms, line);
        check_near(cases[i].what, t.plant, cases[i].y, 0.01f, __LINE__);
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
    send(&t, TUNER_KP, 5.0f, line);
    send(&t, TUNER_SETPOINT, 50.0f, line);
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
        check_text("loop lines", length ? line : "", expected, __LINE__);
        check_unsigned("their length", length, (unsigned long)strlen(expected), __LINE__);
    }
}

static void ring_order(void)
{
    ring r;
    unsigned long in = 0, out = 0;
    int round, got;
    memset(&r, 0, sizeof r);
    check(ring_get(&r) == -1, "an empty ring", "a byte", "-1", __LINE__);
    /* Filled to the brim and emptied three times, so the indices wrap round. */
    for (round = 0; round < 3; ++round) {
        unsigned long held = 0;
        while (!ring_full(&r)) {
            ring_put(&r, (uint8_t)in++);
            ++held;
        }
        check_unsigned("bytes a full ring holds", held, RING_SIZE - 1, __LINE__);
        while ((got = ring_get(&r)) >= 0)
            check_unsigned("next byte out", (unsigned long)got, out++ & 0xFFu, __LINE__);
    }
    check_unsigned("bytes out", out, in, __LINE__);
}

int main(void)
{
    const uint16_t probe = 1;
    decoder_byte_order();
    value_text();
    reports();
    table_full();
    loop();
    loop_lines();
    ring_order();
    printf("test_tuner: %d checks, %d failed (int is %d bits, %s-endian)\n", checks, failures,
           (int)(sizeof(int) * 8), *(const uint8_t *)&probe ? "little" : "big");
    return failures ? 1 : 0;
}
