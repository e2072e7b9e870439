// SPDX-License-Identifier: MIT
#include "source.h"

#include "csvsource.h"
#include "portsource.h"
#include "scopeoptions.h"
#include "standardinputsource.h"

namespace pidtune::scope {

std::unique_ptr<Source> openSource(const ScopeOptions &options, QByteArray *timeColumn,
                                   QString *error)
{
    if (!options.relayPort.isEmpty())
        return openRelay(options.relayPort, options.baudRate, error);
    if (options.source == QLatin1String("-"))
        return StandardInputSource::open(error);
    if (options.isCsv())
        return CsvSource::open(options.source, timeColumn, error);
    return PortSource::open(options.source, options.baudRate, error);
}

} // namespace pidtune::scope
