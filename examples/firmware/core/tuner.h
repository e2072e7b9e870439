/* SPDX-License-Identifier: MIT */
/*
 * The part of the example firmware that is the same on every board: parameter frames in, a
 * table of parameters by identifier, a PID loop on a simulated plant, and the text lines the
 * firmware reports. No hardware, no globals, no stdio, no floating-point library: the board
 * code calls these functions and prints the lines it gets back wherever its log goes.
 *
 * Report lines (each ends in "\r\n"; the format is described in examples/firmware/README.md):
 *   ready board=mps2-an385 int=32 slots=16
 *   param id=44 value=0.69999 bits=3f33328b skipped=0
 *   reject id=5 value=-21474.80078 bits=c6a7c59a reason=range skipped=0
 *   t=1020 sp=50 y=1.95213 u=41.68064
 *   state t=1000 sp=0 y=0 u=0 overruns=0
 */
#ifndef TUNER_H
#define TUNER_H

#include "pidtune_frame.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Parameters the loop uses; the identifiers match examples/Settings.ini. */
enum tuner_parameter_id {
    TUNER_KP = 1, /* proportional gain, 0..100 */
    TUNER_KI = 2, /* integral gain, 1/s, 0..100 */
    TUNER_KD = 3, /* derivative gain, s, 0..10 */
    TUNER_INTEGRAL_LIMIT = 4, /* the integral term is held within +-this, 0..100 */
    TUNER_SETPOINT = 5, /* -100..100 */
    TUNER_OUTPUT_FILTER = 6, /* time constant of the output's low-pass filter, s, 0..10 */
    /* A relay experiment instead of the PID: 1 switches the controller to a relay of amplitude
     * TUNER_RELAY_AMPLITUDE around the set-point, 0 back to the PID. */
    TUNER_RELAY = 7,
    TUNER_RELAY_AMPLITUDE = 8, /* d, 0..200 */
    /* The plant's dead time, s: its input is the controller's output this long ago. 0 at start,
     * so that the plant is the plain first-order one every published figure was measured on. */
    TUNER_DEAD_TIME = 9
};
#define TUNER_KNOWN_PARAMETERS 9
/* Any other identifier is stored too (for code you add), within +-TUNER_OTHER_LIMIT. */
#define TUNER_OTHER_LIMIT 100000.0f
/* For tests, not for tuning: a frame of this identifier (0 to 1000) holds up the main loop for
 * that many milliseconds once, as a slow log or a long computation would, so that frames sent
 * meanwhile fill the receive ring. */
#define TUNER_STALL 250
#define TUNER_STALL_LIMIT 1000.0f
/* Table slots, the nine above included. */
#define TUNER_SLOTS 16

/* Room for the longest report lines of one call and the terminating NUL: a stream line and a
 * state line come together once a second. */
#define TUNER_LINE_SIZE 160
/* The loop runs once a millisecond. It streams its state as name=value pairs every
 * TUNER_STREAM_EVERY_MS, for a live plot (0 turns the stream off: a log slower than about
 * 2.5 kB/s would otherwise hold up the main loop), and reports it in full once a second. */
#define TUNER_STEP_MS 1
#ifndef TUNER_STREAM_EVERY_MS
#define TUNER_STREAM_EVERY_MS 20
#endif
#define TUNER_STATE_EVERY_MS 1000
/* The plant: y' = (u - y) / tau, gain 1; the controller's output is held within +-limit. */
#define TUNER_PLANT_TAU_S 0.5f
#define TUNER_OUTPUT_LIMIT 200.0f
/* The longest dead time, in ms: the plant keeps the controller's output of every millisecond for
 * that long, 4 bytes each (a board with little RAM builds with less). */
#ifndef TUNER_DEAD_TIME_MAX_MS
#define TUNER_DEAD_TIME_MAX_MS 1000
#endif
#define TUNER_DELAY_SLOTS (TUNER_DEAD_TIME_MAX_MS / TUNER_STEP_MS + 1)

typedef struct tuner_slot
{
    float value;
    uint8_t identifier;
} tuner_slot;

typedef struct tuner
{
    pidtune_frame_decoder decoder;
    /* Slots 0-8 hold identifiers 1-9 from the start; others are added as they arrive. */
    tuner_slot slots[TUNER_SLOTS];
    uint8_t used;

    uint32_t time_ms;
    uint16_t stream_in; /* milliseconds to the next stream line */
    uint16_t state_in; /* and to the next state line */
    uint16_t stall_ms; /* asked for by the last frame */
    float plant; /* y */
    float previous_plant;
    float integral;
    float output; /* u, after the filter */

    /* The controller's outputs of the last TUNER_DEAD_TIME_MAX_MS, the newest at delay_head. */
    float delay[TUNER_DELAY_SLOTS];
    uint16_t delay_head;
    uint16_t delay_steps; /* the dead time in steps, rounded */

    /* The relay: on, on its high side, the output it swings around, and the sum and count of
     * its outputs since its last switch to the high side. */
    uint8_t relay_on, relay_high, relay_cycled;
    float relay_bias, relay_sum;
    uint32_t relay_count;
} tuner;

void tuner_init(tuner *t);

/* One byte from the line. Returns the length of the report line written into line when this
 * byte completed a frame, otherwise 0. */
unsigned tuner_receive(tuner *t, uint8_t byte, char line[TUNER_LINE_SIZE]);

/* One millisecond of controller and plant. Returns the length of the lines that are due,
 * written into line: the stream line every TUNER_STREAM_EVERY_MS, followed by the state line
 * every TUNER_STATE_EVERY_MS; otherwise 0. overruns is the board's count of the times its UART
 * lost bytes, reported as it is. */
unsigned tuner_step(tuner *t, uint32_t overruns, char line[TUNER_LINE_SIZE]);

/* How long the last frame asked the main loop to stand still, in ms; 0 from then on. */
uint16_t tuner_take_stall(tuner *t);

/* The line the board prints once at start. */
unsigned tuner_ready(const char *board, char line[TUNER_LINE_SIZE]);

/* The parameter's value, or 0 for an identifier that never arrived. */
float tuner_parameter(const tuner *t, uint8_t identifier);

/* Writes the value rounded to 5 decimals (halves away from zero), without trailing zeros:
 * 1.5, -21474.80078, 0.00001, 0. "nan", "inf" and "-inf" as such; magnitudes of 2^32 and
 * more, which no parameter can have, as "ovf" or "-ovf". Returns the length; out needs
 * TUNER_NUMBER_SIZE bytes. No floating-point arithmetic: it works on the bits. */
#define TUNER_NUMBER_SIZE 20
unsigned tuner_format_value(float value, char out[TUNER_NUMBER_SIZE]);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TUNER_H */
