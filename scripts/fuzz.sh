#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer, Qt 5)
# and runs each one for a bounded time from its seed corpus in fuzz/corpus/.
#   scripts/fuzz.sh [SECONDS-PER-TARGET] [TARGET...]     default 30 s, every target
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

PIDTUNE_QT=${PIDTUNE_QT:-5}
# shellcheck disable=SC2046
ensure_packages $(build_packages) clang libclang-rt-dev
PIDTUNE_BUILD_DIR=${PIDTUNE_BUILD_DIR:-$PIDTUNE_ROOT/build/fuzz}
CC=clang CXX=clang++ PIDTUNE_CMAKE_ARGS="-DBUILD_TESTING=OFF -DPIDTUNE_FUZZ=ON \
    -DPIDTUNE_SANITIZE=address,undefined,float-cast-overflow ${PIDTUNE_CMAKE_ARGS:-}" build
"$PIDTUNE_ROOT/fuzz/run.sh" "$PIDTUNE_BUILD_DIR" "$@"
