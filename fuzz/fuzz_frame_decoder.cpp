// SPDX-License-Identifier: MIT
// libFuzzer target for the device-side frame decoder. For any input, fed one byte at a time:
// - every reported frame is a 9-byte window of the input with 05 FA 06 .. 04 in place, and its
//   identifier and value are that window's;
// - every such window that does not overlap a frame reported before it is reported;
// - every byte is either in a reported frame, counted as skipped, or still buffered.
// A broken property aborts, which libFuzzer reports as a crash with the input saved.
#include "framereference.h"
#include "pidtune_frame.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

bool fitsFrameStart(const std::uint8_t *bytes, std::size_t length)
{
    static const int fixed[PIDTUNE_FRAME_SIZE] = {0x05, 0xFA, 0x06, -1, 0x04, -1, -1, -1, -1};
    for (std::size_t i = 0; i < length; ++i) {
        if (fixed[i] >= 0 && bytes[i] != fixed[i])
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    pidtune_frame_decoder decoder;
    pidtune_frame_decoder_init(&decoder);

    std::vector<std::size_t> reported;
    for (std::size_t i = 0; i < size; ++i) {
        pidtune_frame frame;
        if (!pidtune_frame_decoder_feed(&decoder, data[i], &frame)) {
            // What is held is the input's latest bytes and could still become a frame.
            require(decoder.length < PIDTUNE_FRAME_SIZE && decoder.length <= i + 1);
            require(std::memcmp(decoder.buffer, data + i + 1 - decoder.length, decoder.length)
                    == 0);
            require(fitsFrameStart(decoder.buffer, decoder.length));
            continue;
        }
        require(i + 1 >= PIDTUNE_FRAME_SIZE);
        const std::uint8_t *window = data + i + 1 - PIDTUNE_FRAME_SIZE;
        require(std::memcmp(frame.bytes, window, PIDTUNE_FRAME_SIZE) == 0);
        require(window[0] == 0x05 && window[1] == 0xFA && window[2] == 0x06 && window[4] == 0x04);
        require(frame.identifier == window[3]);
        std::uint32_t bits;
        std::memcpy(&bits, &frame.value, sizeof bits);
        require(bits
                == (std::uint32_t(window[5]) | std::uint32_t(window[6]) << 8
                    | std::uint32_t(window[7]) << 16 | std::uint32_t(window[8]) << 24));
        reported.push_back(std::size_t(window - data));
    }

    // The reference takes every valid window that starts after the previous one ended, which is
    // exactly "every valid window not overlapping an earlier reported frame".
    require(reported == referenceFrameOffsets(data, size));
    require(decoder.frames == reported.size());
    require(decoder.skipped + PIDTUNE_FRAME_SIZE * reported.size() + decoder.length == size);
    return 0;
}
