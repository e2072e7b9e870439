#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds a source package as a Debian build daemon would: in a fresh minimal chroot of this
# system's release (mmdebstrap, buildd variant, from the mirror apt uses here) with nothing but
# build-essential and the package's Build-Depends, as an ordinary user. So a dependency missing
# from debian/control fails here even where this machine has it installed. As root.
#   scripts/package-in-chroot.sh build/deb-qt6/pidtune_1.0.0-1.dsc [OUTDIR]
# The packages and the log go to OUTDIR (default: beside the .dsc, in chroot/).
set -euo pipefail
case $# in 1 | 2) ;; *) echo "usage: $0 DSC [OUTDIR]" >&2; exit 2 ;; esac
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"
[ "$(id -u)" -eq 0 ] || { say "mmdebstrap needs root here"; exit 1; }
ensure_packages mmdebstrap dpkg-dev

dsc=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
out=${2:-$(dirname "$dsc")/chroot}
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
# The .dsc and the tarballs it names.
files=("$dsc")
while read -r name; do files+=("$(dirname "$dsc")/$name"); done < <(
    sed -n '/^Files:/,/^[^ ]/s/^ [0-9a-f]\{32\} [0-9]* //p' "$dsc")

suite=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")
mirror=()
for sources in /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list; do
    if [ -s "$sources" ]; then mirror=("$sources"); break; fi
done

# shellcheck disable=SC2016 # $1 is the chroot, expanded by mmdebstrap's hooks
mmdebstrap --variant=buildd --include=passwd \
    --customize-hook='mkdir -p "$1/build" && chroot "$1" useradd --create-home builder' \
    --customize-hook="copy-in ${files[*]} /build" \
    --customize-hook='chroot "$1" sh -ec "
        cd /build
        dpkg-source -x *.dsc source
        DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -q --no-install-recommends ./source
        chown -R builder: /build
        cd source
        runuser -u builder -- dpkg-buildpackage -us -uc -j$(nproc)
        cd /build
        rm -rf source" >"$1/build/build.log" 2>&1 || { tail -n 60 "$1/build/build.log"; exit 1; }' \
    --customize-hook="sync-out /build $out" \
    "$suite" /dev/null "${mirror[@]}"
ls "$out"
