// SPDX-License-Identifier: MIT
#include "standardstreams.h"

namespace pidtune::scope {

// A Windows program started without a standard stream gets none to lose, and has no SIGPIPE.
ClosedStreams guardStandardStreams()
{
    return {};
}

} // namespace pidtune::scope
