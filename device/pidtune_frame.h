/* SPDX-License-Identifier: MIT */
/*
 * Receiving pidtune's parameter frames on a device.
 *
 * Every slider release in pidtune sends one 9-byte frame:
 *
 *   offset 0  0x05        header
 *   offset 1  0xFA        header
 *   offset 2  0x06        number of bytes that follow
 *   offset 3  identifier  which parameter, 0-255
 *   offset 4  0x04        size of the value
 *   offset 5  value       IEEE 754 binary32, least significant byte first (4 bytes)
 *
 * There is no checksum. The decoder takes one byte at a time, so it can run in a UART receive
 * interrupt: it allocates nothing, keeps all of its state in the caller's decoder struct, calls
 * no floating-point library and needs only <stdint.h> and <string.h> (memcpy). Plain C99 that
 * also compiles as C++.
 *
 * Copy this header and pidtune_frame.c into the firmware project.
 */
#ifndef PIDTUNE_FRAME_H
#define PIDTUNE_FRAME_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define PIDTUNE_FRAME_SIZE 9

/* One decoded frame. */
typedef struct pidtune_frame
{
    float value;
    uint8_t identifier;
    /* The frame as it came off the line. */
    uint8_t bytes[PIDTUNE_FRAME_SIZE];
} pidtune_frame;

/* Owned by the caller; set it up with pidtune_frame_decoder_init before the first byte. One
 * decoder per serial line: decoders share nothing. */
typedef struct pidtune_frame_decoder
{
    /* Frames decoded since init (wraps around). */
    uint32_t frames;
    /* Bytes discarded since init as part of no decoded frame (wraps around). */
    uint32_t skipped;
    /* The frame being received, from its first byte; length of them are held, 0-8 between
     * calls. Only the decoder writes these. */
    uint8_t buffer[PIDTUNE_FRAME_SIZE];
    uint8_t length;
} pidtune_frame_decoder;

void pidtune_frame_decoder_init(pidtune_frame_decoder *decoder);

/* Takes the next byte from the line. Returns 1 when this byte completes a frame, which is then
 * stored in *out; returns 0 otherwise and leaves *out alone.
 *
 * Bytes that cannot belong to a frame are counted in decoder->skipped. When a partly received
 * frame turns out to be wrong, the bytes after its first one are searched again, so a frame
 * that starts inside rejected bytes (05 05 FA 06 ...) is still found. */
int pidtune_frame_decoder_feed(pidtune_frame_decoder *decoder, uint8_t byte, pidtune_frame *out);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* PIDTUNE_FRAME_H */
