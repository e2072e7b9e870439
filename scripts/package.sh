#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package (Release, without tests) and prints its path. Installs what is
# missing on Debian/Ubuntu, as the other scripts do.
#   scripts/package.sh               Qt 6 if available, else Qt 5
#   PIDTUNE_QT=5 scripts/package.sh  a chosen Qt version
# Install the result with: sudo apt-get install ./build/package-qt6/pidtune_*.deb
set -euo pipefail
. "$(dirname "$0")/common.sh"

choose_qt
# dpkg-shlibdeps (dpkg-dev) and file let CPack work out the package's library dependencies.
# shellcheck disable=SC2046
ensure_packages $(build_packages) dpkg-dev file
PIDTUNE_BUILD_DIR=${PIDTUNE_BUILD_DIR:-$PIDTUNE_ROOT/build/package-qt$PIDTUNE_QT}
PIDTUNE_BUILD_TYPE=Release
PIDTUNE_CMAKE_ARGS="-DBUILD_TESTING=OFF ${PIDTUNE_CMAKE_ARGS:-}"
build

cd "$PIDTUNE_BUILD_DIR"
rm -f ./*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log >&2; exit 1; }
ls "$PIDTUNE_BUILD_DIR"/*.deb
