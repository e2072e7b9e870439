// SPDX-License-Identifier: MIT
#include "channelvalues.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pidtune {

std::optional<int> boundFromText(const QString &text)
{
    const QString entry = text.trimmed();
    if (entry.isEmpty() || entry == QLatin1String("-") || entry == QLatin1String("+"))
        return 0;
    bool ok = false;
    const double entered = entry.toDouble(&ok);
    if (!ok || !std::isfinite(entered))
        return std::nullopt;
    // The entry is taken in single precision, as the device will hold it. A float has 24
    // significant bits and 100000 needs 17, so the double product is exact: the truncation sees
    // 0.7f as 69999.998..., as the operator's entry really is. An entry beyond a float's range
    // (converting it would be undefined) is simply far beyond the slider's.
    const bool fitsFloat = std::fabs(entered) <= std::numeric_limits<float>::max();
    const double product = (fitsFloat ? double(float(entered)) : entered) * kSliderScale;
    // Converting a double outside the int range is undefined behaviour; saturate instead.
    if (product >= 2147483648.0)
        return std::numeric_limits<int>::max();
    if (product < -2147483648.0)
        return std::numeric_limits<int>::min();
    return static_cast<int>(product);
}

bool sliderSpanFits(int minimum, int maximum)
{
    return qint64(maximum) - minimum <= std::numeric_limits<int>::max();
}

QString valueText(int position)
{
    constexpr int width = 10;
    constexpr int significantDigits = 6;
    return QStringLiteral("%1").arg(double(position) / kSliderScale, width, 'g', significantDigits,
                                    QLatin1Char(' '));
}

float valueFromText(const QString &text)
{
    return text.toFloat();
}

std::optional<int> frameIdentifier(const QString &text)
{
    // toInt alone stops at a NUL character and would take "4\0\n6" for 4.
    const QString number = text.trimmed();
    const int digitsFrom
        = number.startsWith(QLatin1Char('+')) || number.startsWith(QLatin1Char('-'));
    const auto isDigit = [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    };
    if (number.size() == digitsFrom
        || !std::all_of(number.begin() + digitsFrom, number.end(), isDigit))
        return std::nullopt;
    bool ok = false;
    const int identifier = number.toInt(&ok, 10);
    if (!ok || identifier < 0 || identifier > 255)
        return std::nullopt;
    return identifier;
}

} // namespace pidtune
