// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Where the frames in a byte stream start, by the plainest reading of the rule the device
// decoder follows: scanning from the start, every 9-byte window with 05 FA 06 .. 04 in place is
// a frame, and the scan goes on after its last byte. The decoder works byte by byte with a
// 9-byte buffer; this looks at the whole stream at once, so the two can check each other.
inline std::vector<std::size_t> referenceFrameOffsets(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::size_t> offsets;
    std::size_t at = 0;
    while (at + 9 <= size) {
        if (data[at] == 0x05 && data[at + 1] == 0xFA && data[at + 2] == 0x06
            && data[at + 4] == 0x04) {
            offsets.push_back(at);
            at += 9;
        } else {
            ++at;
        }
    }
    return offsets;
}
