#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the Debian source package's upstream tarball, pidtune_<version>.orig.tar.xz, in the
# given folder and prints its path. It holds the files git tracks, as they are in this checkout,
# except debian/, under pidtune-<version>/. Owners, modes and time stamps are fixed (the time is
# debian/changelog's), so the same files give the same bytes whoever makes them, wherever, under
# any umask.
#   scripts/orig-tarball.sh DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
out=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."

version=$(dpkg-parsechangelog -SVersion)
version=${version#*:}
version=${version%-*}
timestamp=$(dpkg-parsechangelog -STimestamp)
tarball=$out/pidtune_$version.orig.tar.xz

git ls-files -z -- . ':!:debian' | LC_ALL=C sort -z |
    tar --create --null --no-recursion --files-from=- --format=gnu \
        --owner=0 --group=0 --numeric-owner --mode=u+rw,go=rX,a-s --mtime="@$timestamp" \
        --transform="s,^,pidtune-$version/," |
    xz -6 -T1 >"$tarball.new"
mv "$tarball.new" "$tarball"
echo "$tarball"
