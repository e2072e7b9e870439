// SPDX-License-Identifier: MIT
// Min/Max field text -> slider bound: never undefined behaviour (the sanitizers watch the
// conversion); a readable text gives the exact product of its single-precision value with
// 100000, truncated toward zero and held in the int range; and only a text that holds no finite
// number (nor is empty or a lone sign) is unreadable.
#include "ui/channelvalues.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    const std::optional<int> bound = pidtune::boundFromText(text);

    const QString entry = text.trimmed();
    bool ok = false;
    const double number = entry.toDouble(&ok);
    const bool blank
        = entry.isEmpty() || entry == QLatin1String("-") || entry == QLatin1String("+");
    if (bound.has_value() != (blank || (ok && std::isfinite(number))))
        std::abort();
    if (!bound || blank) {
        if (bound && *bound != 0)
            std::abort();
        return 0;
    }
    const long double exact = std::fabs(number) > std::numeric_limits<float>::max()
        ? static_cast<long double>(number) * 100000.0L
        : static_cast<long double>(entry.toFloat()) * 100000.0L;
    int expected = 0;
    if (std::trunc(exact) > std::numeric_limits<int>::max())
        expected = std::numeric_limits<int>::max();
    else if (std::trunc(exact) < std::numeric_limits<int>::min())
        expected = std::numeric_limits<int>::min();
    else
        expected = static_cast<int>(std::trunc(exact));
    if (*bound != expected)
        std::abort();
    return 0;
}
