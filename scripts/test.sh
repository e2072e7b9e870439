#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds pidtune and runs its whole test suite. Installs what is missing on Debian/Ubuntu.
#   scripts/test.sh               Qt 6 if available, else Qt 5
#   PIDTUNE_QT=5 scripts/test.sh  a chosen Qt version
# Extra ctest arguments pass through, e.g. scripts/test.sh -L unit, or -R tst_window.
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

choose_qt
# shellcheck disable=SC2046
ensure_packages $(build_packages)
# The firmware tests' toolchains and emulators where this may install them; elsewhere those tests
# skip, each saying what to install.
if [ "$(id -u)" -eq 0 ]; then
    # shellcheck disable=SC2046
    ensure_packages $(firmware_packages)
fi
build
cd "$PIDTUNE_BUILD_DIR"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure "$@"
