// SPDX-License-Identifier: MIT
#pragma once

#include "source.h"

namespace pidtune::scope {

// Standard input, read as it comes: a pipe from another program, a file, or the terminal.
// The one source whose reading is the platform's own (standardinputsource_unix.cpp,
// standardinputsource_win.cpp).
class StandardInputSource : public Source
{
    Q_OBJECT

public:
    static std::unique_ptr<StandardInputSource> open(QString *error);
    ~StandardInputSource() override;

private:
    StandardInputSource();
    struct Reader;
    std::unique_ptr<Reader> reader;
};

} // namespace pidtune::scope
