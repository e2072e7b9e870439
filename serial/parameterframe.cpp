// SPDX-License-Identifier: MIT
#include "parameterframe.h"

#include <cstring>
#include <limits>

namespace pidtune {

static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559,
              "the wire format carries IEEE 754 binary32 values");

ParameterFrame encodeParameterFrame(std::int32_t identifier, float value) noexcept
{
    // memcpy is the one well-defined way to see a float's bits; the shifts then put them on the
    // wire least significant byte first whatever the host's byte order.
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const auto byte = [](std::uint32_t v, int shift) {
        return static_cast<std::uint8_t>((v >> shift) & 0xFFu);
    };
    return {0x05,          0xFA,
            0x06,          byte(static_cast<std::uint32_t>(identifier), 0),
            0x04,          byte(bits, 0),
            byte(bits, 8), byte(bits, 16),
            byte(bits, 24)};
}

QString frameToHex(const ParameterFrame &frame)
{
    const QByteArray raw(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
    return QString::fromLatin1(raw.toHex(' ').toUpper());
}

} // namespace pidtune
