// SPDX-License-Identifier: MIT
// The device decoder built as C++, as firmware written in C++ builds it: the same source has to
// compile and mean the same in both languages, so the decoder tests run against this build too.
#include "pidtune_frame.c"
