/* SPDX-License-Identifier: MIT */
#include "tuner.h"

#include <string.h>

typedef struct limits
{
    float min, max, initial;
} limits;

/* Indexed by identifier - 1. */
static const limits known[TUNER_KNOWN_PARAMETERS] = {
    {0.0f, 100.0f, 1.0f}, /* Kp */
    {0.0f, 100.0f, 0.0f}, /* Ki */
    {0.0f, 10.0f, 0.0f}, /* Kd */
    {0.0f, 100.0f, 10.0f}, /* integral limit */
    {-100.0f, 100.0f, 0.0f}, /* set-point */
    {0.0f, 10.0f, 0.0f}, /* output filter */
    {0.0f, 1.0f, 0.0f}, /* relay: 0 off, 1 on */
    {0.0f, TUNER_OUTPUT_LIMIT, 10.0f}, /* relay amplitude d */
    {0.0f, TUNER_DEAD_TIME_MAX_MS / 1000.0f, 0.0f}, /* dead time, s */
};

/* Lines are built with these: each returns the position after what it wrote. The callers'
 * buffers are sized for the longest line, so there is no bounds check on every character. */
static char *put_text(char *out, const char *text)
{
    while (*text)
        *out++ = *text++;
    return out;
}

static char *put_unsigned(char *out, uint32_t n)
{
    char digits[10];
    uint8_t count = 0;
    do {
        digits[count++] = (char)('0' + (uint8_t)(n % 10u));
        n /= 10u;
    } while (n != 0u);
    while (count > 0u)
        *out++ = digits[--count];
    return out;
}

static char *put_hex32(char *out, uint32_t n)
{
    static const char hex[] = "0123456789abcdef";
    uint8_t shift = 32;
    do {
        shift = (uint8_t)(shift - 4u);
        *out++ = hex[(n >> shift) & 0xFu];
    } while (shift != 0u);
    return out;
}

static uint32_t bits_of(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

static char *put_value(char *out, float value)
{
    const uint32_t bits = bits_of(value);
    const int negative = (bits >> 31) != 0u;
    int16_t exponent = (int16_t)((bits >> 23) & 0xFFu);
    uint32_t mantissa = bits & 0x7FFFFFu;
    uint32_t whole, fraction;
    int16_t shift;

    if (exponent == 0xFF)
        return put_text(out, mantissa ? "nan" : negative ? "-inf" : "inf");
    if (exponent != 0)
        mantissa |= 0x800000u;
    else
        exponent = 1; /* subnormal */
    /* value = mantissa * 2^shift */
    shift = (int16_t)(exponent - 150);

    if (shift >= 9) {
        /* 2^32 and more: the whole part would not fit. */
        return put_text(out, negative ? "-ovf" : "ovf");
    } else if (shift >= 0) {
        whole = mantissa << shift;
        fraction = 0;
    } else {
        const uint8_t k = (uint8_t)(-shift);
        uint32_t rest;
        if (k >= 24u) {
            whole = 0;
            rest = mantissa;
        } else {
            whole = mantissa >> k;
            rest = mantissa & ((UINT32_C(1) << k) - 1u);
        }
        /* rest * 10^5 < 2^41: from 2^42 on the fraction rounds to 0. */
        if (k >= 42u) {
            fraction = 0;
        } else {
            const uint64_t scaled = (uint64_t)rest * 100000u + (UINT64_C(1) << (k - 1u));
            fraction = (uint32_t)(scaled >> k);
        }
        if (fraction == 100000u) {
            fraction = 0;
            ++whole;
        }
    }

    if (negative && (whole != 0u || fraction != 0u))
        *out++ = '-';
    out = put_unsigned(out, whole);
    if (fraction != 0u) {
        uint8_t digits = 5;
        while (fraction % 10u == 0u) {
            fraction /= 10u;
            --digits;
        }
        *out++ = '.';
        out += digits;
        {
            char *digit = out;
            while (digits-- > 0u) {
                *--digit = (char)('0' + (uint8_t)(fraction % 10u));
                fraction /= 10u;
            }
        }
    }
    return out;
}

static unsigned finish(char *line, char *end)
{
    end = put_text(end, "\r\n");
    *end = '\0';
    return (unsigned)(end - line);
}

/* " sp=50 y=41.66391 u=41.68064", for the stream and the state line alike. */
static char *put_loop(char *out, const tuner *t, float setpoint)
{
    out = put_text(out, " sp=");
    out = put_value(out, setpoint);
    out = put_text(out, " y=");
    out = put_value(out, t->plant);
    out = put_text(out, " u=");
    return put_value(out, t->output);
}

unsigned tuner_format_value(float value, char out[TUNER_NUMBER_SIZE])
{
    char *end = put_value(out, value);
    *end = '\0';
    return (unsigned)(end - out);
}

void tuner_init(tuner *t)
{
    uint8_t i;
    memset(t, 0, sizeof *t);
    pidtune_frame_decoder_init(&t->decoder);
    for (i = 0; i < TUNER_KNOWN_PARAMETERS; ++i) {
        t->slots[i].identifier = (uint8_t)(i + 1u);
        t->slots[i].value = known[i].initial;
    }
    t->used = TUNER_KNOWN_PARAMETERS;
    t->stream_in = TUNER_STREAM_EVERY_MS;
    t->state_in = TUNER_STATE_EVERY_MS;
}

/* The slot that holds the identifier, or TUNER_SLOTS. */
static uint8_t find(const tuner *t, uint8_t identifier)
{
    uint8_t i;
    for (i = 0; i < t->used; ++i) {
        if (t->slots[i].identifier == identifier)
            break;
    }
    return i < t->used ? i : TUNER_SLOTS;
}

float tuner_parameter(const tuner *t, uint8_t identifier)
{
    const uint8_t slot = find(t, identifier);
    return slot < TUNER_SLOTS ? t->slots[slot].value : 0.0f;
}

unsigned tuner_receive(tuner *t, uint8_t byte, char line[TUNER_LINE_SIZE])
{
    pidtune_frame frame;
    uint8_t slot;
    const char *reason = 0;
    float min = -TUNER_OTHER_LIMIT, max = TUNER_OTHER_LIMIT;
    char *end;

    if (!pidtune_frame_decoder_feed(&t->decoder, byte, &frame))
        return 0;

    /* No checksum protects the value: the range check is all that keeps a damaged frame out. */
    if (frame.identifier >= 1u && frame.identifier <= TUNER_KNOWN_PARAMETERS) {
        min = known[frame.identifier - 1u].min;
        max = known[frame.identifier - 1u].max;
    } else if (frame.identifier == TUNER_STALL) {
        min = 0.0f;
        max = TUNER_STALL_LIMIT;
    }
    slot = find(t, frame.identifier);
    if (!(frame.value >= min && frame.value <= max)) { /* false for NaN as well */
        reason = "range";
    } else if (slot == TUNER_SLOTS) {
        if (t->used < TUNER_SLOTS)
            slot = t->used++;
        else
            reason = "full";
    }
    if (!reason) {
        t->slots[slot].identifier = frame.identifier;
        t->slots[slot].value = frame.value;
        /* In whole steps, worked out once rather than every millisecond. */
        if (frame.identifier == TUNER_DEAD_TIME)
            t->delay_steps = (uint16_t)(frame.value * (1000.0f / TUNER_STEP_MS) + 0.5f);
    }
    t->stall_ms = !reason && frame.identifier == TUNER_STALL ? (uint16_t)frame.value : 0u;

    end = put_text(line, reason ? "reject id=" : "param id=");
    end = put_unsigned(end, frame.identifier);
    end = put_text(end, " value=");
    end = put_value(end, frame.value);
    end = put_text(end, " bits=");
    end = put_hex32(end, bits_of(frame.value));
    if (reason) {
        end = put_text(end, " reason=");
        end = put_text(end, reason);
    }
    end = put_text(end, " skipped=");
    end = put_unsigned(end, t->decoder.skipped);
    return finish(line, end);
}

static float clamp(float value, float limit)
{
    return value > limit ? limit : value < -limit ? -limit : value;
}

/* The relay's output: bias + d while y is below the set-point, bias - d above it. It starts
 * from the output the controller gave, so that switching it on from a loop at rest is bumpless,
 * and after each whole cycle takes that cycle's mean output as its bias: a cycle that spends
 * longer on one side moves the bias that way until both halves are equal, as a relay around the
 * set-point's own operating point would be. */
static float relay(tuner *t, float error)
{
    const float d = t->slots[TUNER_RELAY_AMPLITUDE - 1].value;
    float wanted;
    if (!t->relay_on) {
        t->relay_on = 1;
        t->relay_cycled = 0;
        t->relay_bias = t->output;
        t->relay_high = error >= 0.0f;
    }
    /* An error of exactly 0 keeps the side it is on: an ideal relay without hysteresis. */
    if (error > 0.0f && !t->relay_high) {
        t->relay_high = 1;
        if (t->relay_cycled)
            t->relay_bias = t->relay_sum / (float)t->relay_count;
        t->relay_cycled = 1;
        t->relay_sum = 0.0f;
        t->relay_count = 0;
    } else if (error < 0.0f) {
        t->relay_high = 0;
    }
    wanted = clamp(t->relay_bias + (t->relay_high ? d : -d), TUNER_OUTPUT_LIMIT);
    t->relay_sum += wanted;
    ++t->relay_count;
    return wanted;
}

unsigned tuner_step(tuner *t, uint32_t overruns, char line[TUNER_LINE_SIZE])
{
    const float dt = 0.001f * TUNER_STEP_MS;
    const float kp = t->slots[TUNER_KP - 1].value;
    const float ki = t->slots[TUNER_KI - 1].value;
    const float kd = t->slots[TUNER_KD - 1].value;
    const float setpoint = t->slots[TUNER_SETPOINT - 1].value;
    const float filter = t->slots[TUNER_OUTPUT_FILTER - 1].value;
    const float error = setpoint - t->plant;
    float wanted;
    const uint16_t delay = t->delay_steps;
    uint16_t delayed;
    char *end = line;

    if (t->slots[TUNER_RELAY - 1].value != 0.0f) {
        /* The PID's integral stays as it was, for when the relay is switched off again. */
        wanted = relay(t, error);
    } else {
        t->relay_on = 0;
        /* Limiting the integral term itself keeps it from winding up while the output is
         * held. */
        t->integral
            = clamp(t->integral + ki * error * dt, t->slots[TUNER_INTEGRAL_LIMIT - 1].value);
        /* The derivative of the measurement, not of the error, so a set-point step gives no
         * kick. */
        wanted = kp * error + t->integral - kd * (t->plant - t->previous_plant) / dt;
        wanted = clamp(wanted, TUNER_OUTPUT_LIMIT);
    }
    t->output += dt / (filter + dt) * (wanted - t->output);

    /* The plant takes the output of delay steps ago; with none, the output just computed. */
    t->delay_head = (uint16_t)(t->delay_head + 1u == TUNER_DELAY_SLOTS ? 0u : t->delay_head + 1u);
    t->delay[t->delay_head] = t->output;
    delayed = (uint16_t)(t->delay_head >= delay ? t->delay_head - delay
                                                : t->delay_head + TUNER_DELAY_SLOTS - delay);
    t->previous_plant = t->plant;
    t->plant += dt / TUNER_PLANT_TAU_S * (t->delay[delayed] - t->plant);
    t->time_ms += TUNER_STEP_MS;

    /* Count-downs rather than t % period: no 32-bit division every millisecond on an 8-bit
     * processor. */
#if TUNER_STREAM_EVERY_MS
    if (--t->stream_in == 0u) {
        t->stream_in = TUNER_STREAM_EVERY_MS;
        end = put_text(end, "t=");
        end = put_unsigned(end, t->time_ms);
        end = put_loop(end, t, setpoint);
        end = put_text(end, "\r\n");
    }
#endif
    if (--t->state_in == 0u) {
        t->state_in = TUNER_STATE_EVERY_MS;
        end = put_text(end, "state t=");
        end = put_unsigned(end, t->time_ms);
        end = put_loop(end, t, setpoint);
        end = put_text(end, " overruns=");
        end = put_unsigned(end, overruns);
        end = put_text(end, "\r\n");
    }
    *end = '\0';
    return (unsigned)(end - line);
}

uint16_t tuner_take_stall(tuner *t)
{
    const uint16_t ms = t->stall_ms;
    t->stall_ms = 0;
    return ms;
}

unsigned tuner_ready(const char *board, char line[TUNER_LINE_SIZE])
{
    char *end = put_text(line, "ready board=");
    end = put_text(end, board);
    /* What the decoder is running on: 16 on an AVR. */
    end = put_text(end, " int=");
    end = put_unsigned(end, (uint32_t)(sizeof(int) * 8u));
    end = put_text(end, " slots=");
    end = put_unsigned(end, TUNER_SLOTS);
    return finish(line, end);
}
