// SPDX-License-Identifier: MIT
#pragma once

namespace pidtune::scope {

// Which standard streams the scope was started without.
struct ClosedStreams
{
    bool input = false;
    bool output = false;
};

// Called first thing in main(). A standard stream the scope was started without (`<&-`, `>&-`)
// gets the null device, so that no file or connection the scope opens later takes its number:
// the display's connection read as standard input, or the step lines written into it. A write to
// standard output whose reader went away (`| head -1`) fails instead of ending the scope
// silently by SIGPIPE. (standardstreams_unix.cpp; on Windows nothing to do.)
ClosedStreams guardStandardStreams();

} // namespace pidtune::scope
