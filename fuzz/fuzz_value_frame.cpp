// SPDX-License-Identifier: MIT
// Slider position -> value text -> value read back -> frame: the text is always 10 characters,
// within 6 significant digits of the position, and the frame carries exactly the number the
// label shows, behind the fixed header.
#include "serial/parameterframe.h"
#include "ui/channelvalues.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 5)
        return 0;
    std::int32_t position;
    std::memcpy(&position, data, sizeof position);
    const int identifier = data[4];

    const QString text = pidtune::valueText(position);
    if (text.size() != 10 || text.trimmed().isEmpty() || text.trimmed().size() > 8)
        std::abort();
    const float shown = pidtune::valueFromText(text);
    const double exact = position / 100000.0;
    // Rounding to 6 significant digits moves the value by at most half a unit in the 6th digit,
    // 5e-6 of it; reading that text as single precision adds at most half a float ulp (2^-24).
    if (std::fabs(shown - exact) > std::fabs(exact) * (5e-6 + 6e-8) + 1e-12)
        std::abort();

    const pidtune::ParameterFrame frame = pidtune::encodeParameterFrame(identifier, shown);
    const std::uint8_t header[] = {0x05, 0xFA, 0x06, std::uint8_t(identifier), 0x04};
    if (frame.size() != 9 || std::memcmp(frame.data(), header, sizeof header) != 0)
        std::abort();
    const std::uint32_t bits = std::uint32_t(frame[5]) | std::uint32_t(frame[6]) << 8
        | std::uint32_t(frame[7]) << 16 | std::uint32_t(frame[8]) << 24;
    const float label = text.toFloat();
    std::uint32_t labelBits;
    std::memcpy(&labelBits, &label, sizeof labelBits);
    if (bits != labelBits)
        std::abort();
    return 0;
}
