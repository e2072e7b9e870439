#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian source package and its binary packages with dpkg-buildpackage, from a fresh
# copy of this checkout's files (as a build daemon would from the source package), and prints the
# paths of what it made, the .changes first. Installs what is missing on Debian/Ubuntu, as the
# other scripts do.
#   scripts/package.sh               Qt 6 if available, else Qt 5
#   PIDTUNE_QT=5 scripts/package.sh  Qt 5: the build profile pkg.pidtune.qt5, packages *-qt5
# The files go to build/deb-qt6 (or deb-qt5, or PIDTUNE_BUILD_DIR), with the build log
# pidtune_<version>_<arch>.build. DEB_BUILD_OPTIONS and dpkg-buildflags' DEB_*FLAGS_APPEND apply
# (CI builds with DEB_CXXFLAGS_APPEND=-Werror).
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

choose_qt
ensure_packages build-essential dpkg-dev git xz-utils
profile=
[ "$PIDTUNE_QT" = 5 ] && profile=pkg.pidtune.qt5
cd "$PIDTUNE_ROOT"
if ! dpkg-checkbuilddeps ${profile:+"-P$profile"} >/dev/null 2>&1; then
    if [ "$(id -u)" -ne 0 ]; then
        say "missing build dependencies; install them with:"
        printf '  sudo apt-get build-dep %s%s\n' "${profile:+-P $profile }" "$PIDTUNE_ROOT" >&2
        exit 1
    fi
    say "installing the build dependencies"
    export DEBIAN_FRONTEND=noninteractive
    apt-get build-dep -y -q --no-install-recommends ${profile:+-P "$profile"} ./ >/dev/null
fi

out=${PIDTUNE_BUILD_DIR:-$PIDTUNE_ROOT/build/deb-qt$PIDTUNE_QT}
rm -rf "$out"
mkdir -p "$out"
orig=$(scripts/orig-tarball.sh "$out")
version=$(dpkg-parsechangelog -SVersion)
tree=$out/pidtune-${version%-*}
tar -xJf "$orig" -C "$out"
# debian/ as the source package will have it: modes and times independent of this checkout's.
git ls-files -z debian |
    tar --create --null --no-recursion --files-from=- --mtime="@$(dpkg-parsechangelog -STimestamp)" |
    tar --extract --directory="$tree"
chmod -R u+rwX,go=rX "$tree"

log=$out/pidtune_${version}_$(dpkg --print-architecture).build
if ! (cd "$tree" && dpkg-buildpackage -us -uc -j"$(nproc)" ${profile:+"--build-profiles=$profile"}) \
    >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    say "dpkg-buildpackage failed; the whole log is $log"
    exit 1
fi
rm -rf "$tree"

changes=$out/pidtune_${version}_$(dpkg --print-architecture).changes
echo "$changes"
# The files the .changes lists: source package, binary packages, debugging symbols, build info.
sed -n '/^Files:/,/^[^ ]/s/^ [0-9a-f]\{32\} [0-9]* [^ ]* [^ ]* //p' "$changes" | sed "s,^,$out/,"
