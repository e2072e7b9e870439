// SPDX-License-Identifier: MIT
#include "pseudoterminal.h"

#include "serial/parameterframe.h"

QByteArray frameBytes(int identifier, float value)
{
    const pidtune::ParameterFrame frame = pidtune::encodeParameterFrame(identifier, value);
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

QByteArray PseudoTerminal::takeReceived()
{
    QByteArray bytes = received();
    input.clear();
    return bytes;
}
