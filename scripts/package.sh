#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package and its debugging symbols (without tests) and prints the package's
# path. Installs what is missing on Debian/Ubuntu, as the other scripts do.
#   scripts/package.sh               Qt 6 if available, else Qt 5
#   PIDTUNE_QT=5 scripts/package.sh  a chosen Qt version
# Install the result with: sudo apt-get install ./build/package-qt6/pidtune_*.deb
# Built as Debian builds its packages: the compiler and linker flags from dpkg-buildflags with
# every hardening feature, and SOURCE_DATE_EPOCH from the changelog unless it is set, so that
# the same sources give the same bytes.
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

choose_qt
# dpkg-shlibdeps and dpkg-buildflags (dpkg-dev), file and binutils let CPack work out the
# library dependencies and split off the debugging symbols.
# shellcheck disable=SC2046
ensure_packages $(build_packages) dpkg-dev file binutils
PIDTUNE_BUILD_DIR=${PIDTUNE_BUILD_DIR:-$PIDTUNE_ROOT/build/package-qt$PIDTUNE_QT}

cd "$PIDTUNE_ROOT"
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -l packaging/changelog -STimestamp)}
export SOURCE_DATE_EPOCH
# Run here: the flags map this directory to "." in the debugging information.
export DEB_BUILD_MAINT_OPTIONS=${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}
eval "$(dpkg-buildflags --export=sh)"
# Build type None, as Debian's CMake packages use: the optimisation comes from these flags only.
PIDTUNE_BUILD_TYPE=None
PIDTUNE_CMAKE_ARGS="-DBUILD_TESTING=OFF ${PIDTUNE_CMAKE_ARGS:-}"
build -DCMAKE_C_FLAGS="$CFLAGS $CPPFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS $CPPFLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS"

cd "$PIDTUNE_BUILD_DIR"
rm -f ./*.deb ./*.ddeb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log >&2; exit 1; }
ls "$PIDTUNE_BUILD_DIR"/*.deb
