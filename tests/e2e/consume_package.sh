#!/bin/sh
# SPDX-License-Identifier: MIT
# The decoder's package as a firmware project sees it once pidtune is installed: installs the
# build tree into a scratch prefix, then builds and runs the firmware core's test twice against
# it, with pkg-config and a plain compiler command, and with find_package in examples/firmware.
#   consume_package.sh <build dir> <source dir> <C compiler>
set -eu
build=$1 source=$2 cc=$3
if ! command -v pkg-config >/dev/null 2>&1; then
    echo "skipped: pkg-config is not installed: apt-get install pkg-config"
    [ -z "${PIDTUNE_REQUIRE_FIRMWARE_TOOLS:-}" ] && exit 77
    exit 1
fi
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/usr" >/dev/null
firmware=$source/examples/firmware

export PKG_CONFIG_PATH="$stage/usr/share/pkgconfig"
srcdir=$(pkg-config --variable=srcdir pidtune_frame)
[ "$(cd "$srcdir" && pwd)" = "$stage/usr/share/pidtune/device" ] || {
    echo "pkg-config found the decoder in $srcdir, not in the installed tree"
    exit 1
}
# shellcheck disable=SC2046 # the flags and sources are lists
"$cc" -std=c99 -Wall -Wextra -Werror -o "$stage/by-pkg-config" -I"$firmware/core" \
    $(pkg-config --cflags pidtune_frame) "$firmware/test/test_tuner.c" "$firmware/core/tuner.c" \
    $(pkg-config --variable=sources pidtune_frame)
"$stage/by-pkg-config"

cmake -S "$firmware" -B "$stage/by-cmake" -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$stage/usr" \
    -DPIDTUNE_WERROR=ON >/dev/null
grep -qx "pidtune_frame_DIR:PATH=$stage/usr/share/cmake/pidtune_frame" "$stage/by-cmake/CMakeCache.txt" || {
    grep pidtune_frame_DIR "$stage/by-cmake/CMakeCache.txt"
    echo "find_package took another pidtune_frame than the installed one"
    exit 1
}
cmake --build "$stage/by-cmake" --target test_tuner >/dev/null
"$stage/by-cmake/test_tuner"
