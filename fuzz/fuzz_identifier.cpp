// SPDX-License-Identifier: MIT
// Identifier text: a frame may be sent exactly when the text is a whole number 0-255 (sign and
// surrounding white space allowed), and then with that number.
#include "ui/channelvalues.h"

#include <cstdint>
#include <cstdlib>

namespace {

// Written independently of QString::toInt: trim, optional sign, ASCII digits only.
int expectedIdentifier(const QString &text)
{
    const QString t = text.trimmed();
    int at = 0;
    bool negative = false;
    if (at < t.size() && (t[at] == QLatin1Char('+') || t[at] == QLatin1Char('-')))
        negative = t[at++] == QLatin1Char('-');
    if (at == t.size())
        return -1;
    long long value = 0;
    for (; at < t.size(); ++at) {
        const char16_t c = t[at].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = qMin(value * 10 + (c - u'0'), 1000LL);
    }
    if (negative && value != 0)
        return -1;
    return value <= 255 ? int(value) : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    if (pidtune::frameIdentifier(text).value_or(-1) != expectedIdentifier(text))
        std::abort();
    return 0;
}
