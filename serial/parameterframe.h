// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace pidtune {

// The only message the device ever receives from us: 05 FA, follow count 06, the identifier's
// low byte, value size 04, then the value as binary32, least significant byte first.
constexpr std::size_t kParameterFrameSize = 9;
using ParameterFrame = std::array<std::uint8_t, kParameterFrameSize>;

ParameterFrame encodeParameterFrame(std::int32_t identifier, float value) noexcept;

// "05 FA 06 03 04 00 00 C0 3F": how the status bar and the logs spell a frame.
QString frameToHex(const ParameterFrame &frame);

} // namespace pidtune
