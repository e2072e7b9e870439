// SPDX-License-Identifier: MIT
// Min/Max field text -> slider bound: never undefined behaviour (the sanitizers watch the
// conversion), and the bound is the exact product truncated toward zero, held in the int range.
#include "ui/channelvalues.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const int bound = pidtune::boundFromText(text);

    const long double exact = static_cast<long double>(text.toFloat()) * 100000.0L;
    int expected = 0;
    if (std::isnan(exact))
        expected = 0;
    else if (std::trunc(exact) > std::numeric_limits<int>::max())
        expected = std::numeric_limits<int>::max();
    else if (std::trunc(exact) < std::numeric_limits<int>::min())
        expected = std::numeric_limits<int>::min();
    else
        expected = static_cast<int>(std::trunc(exact));
    if (bound != expected)
        std::abort();
    return 0;
}
