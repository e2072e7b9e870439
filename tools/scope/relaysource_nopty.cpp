// SPDX-License-Identifier: MIT
// Built where the system has no pseudo-terminals (Windows): the relay has no port of its own
// making to give pidtune, so it says what to do instead.
#include "source.h"

namespace pidtune::scope {

std::unique_ptr<Source> openRelay(const QString &, qint32, QString *error)
{
    *error = QStringLiteral(
        "the relay needs a pseudo-terminal for pidtune, which this system does not have; plot a "
        "second UART of the device (or a second USB-serial adapter on its log pins) with "
        "pidtune-scope PORT and open the parameter port in pidtune, or relay on Linux");
    return nullptr;
}

} // namespace pidtune::scope
