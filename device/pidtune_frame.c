/* SPDX-License-Identifier: MIT */
#include "pidtune_frame.h"

#include <string.h>

/* The value travels as the bits of a binary32; a float of another size cannot hold them. */
typedef char pidtune_frame_float_must_be_32_bits[sizeof(float) == 4 ? 1 : -1];

/* Offsets with a fixed byte; the identifier and the value may be anything. */
static int pidtune_frame_byte_fits(uint8_t offset, uint8_t byte)
{
    switch (offset) {
    case 0:
        return byte == 0x05;
    case 1:
        return byte == 0xFA;
    case 2:
        return byte == 0x06; /* follow count: identifier, size and 4 value bytes */
    case 4:
        return byte == 0x04; /* value size */
    default:
        return 1;
    }
}

static int pidtune_frame_buffer_fits(const pidtune_frame_decoder *decoder)
{
    uint8_t i;
    for (i = 0; i < decoder->length; ++i) {
        if (!pidtune_frame_byte_fits(i, decoder->buffer[i]))
            return 0;
    }
    return 1;
}

void pidtune_frame_decoder_init(pidtune_frame_decoder *decoder)
{
    /* Field by field: firmware linked without a C library may have no memset. The buffer is
     * read only up to length. */
    decoder->frames = 0;
    decoder->skipped = 0;
    decoder->length = 0;
}

int pidtune_frame_decoder_feed(pidtune_frame_decoder *decoder, uint8_t byte, pidtune_frame *out)
{
    uint32_t bits;
    uint8_t i;

    decoder->buffer[decoder->length++] = byte;

    /* The buffered bytes fitted before this one came, so a mismatch means the frame did not
     * start at buffer[0]. It may still start at any later buffered byte (a lone 05 before
     * 05 FA 06 ..., or a header where the identifier was expected): drop one byte at a time
     * until what is left fits again, or nothing is left. */
    while (decoder->length > 0 && !pidtune_frame_buffer_fits(decoder)) {
        /* Through a copy, with memcpy: a byte-moving loop here is what compilers turn into a
         * call of memmove, which firmware linked without a C library may not have. */
        uint8_t rest[PIDTUNE_FRAME_SIZE];
        --decoder->length;
        memcpy(rest, decoder->buffer + 1, decoder->length);
        memcpy(decoder->buffer, rest, decoder->length);
        ++decoder->skipped;
    }

    if (decoder->length < PIDTUNE_FRAME_SIZE)
        return 0;

    /* Assembled with shifts, most significant byte (the last one) first, so the byte order of
     * the host does not matter; memcpy then reinterprets the bits without the aliasing problems
     * of a pointer cast or a union. */
    bits = 0;
    for (i = PIDTUNE_FRAME_SIZE; i > 5; --i)
        bits = (bits << 8) | decoder->buffer[i - 1];
    out->identifier = decoder->buffer[3];
    memcpy(&out->value, &bits, sizeof out->value);
    memcpy(out->bytes, decoder->buffer, PIDTUNE_FRAME_SIZE);

    decoder->length = 0;
    ++decoder->frames;
    return 1;
}
