#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes pidtune.ico, the icon in the Windows programs and the installer, from packaging/pidtune.svg:
# each size rendered by rsvg-convert (librsvg2-bin) and kept as PNG inside the .ico, which Windows
# reads since Vista. Committed, so that no build depends on a tool a Windows machine lacks; run it
# again after changing the SVG:  packaging/windows/make-icon.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sizes=(16 20 24 32 40 48 64 256)
for size in "${sizes[@]}"; do
    rsvg-convert --width "$size" --height "$size" --output "$work/$size.png" "$here/../pidtune.svg"
done
# ICONDIR, then one ICONDIRENTRY per image (a width or height of 256 is written as 0), then the
# images.
files=()
for size in "${sizes[@]}"; do files+=("$work/$size.png"); done
perl -e '
    my @files = @ARGV;
    my @data = map { local $/; open my $f, "<:raw", $_ or die "$_: $!"; <$f> } @files;
    my $out = pack("vvv", 0, 1, scalar @files);
    my $offset = 6 + 16 * @files;
    for my $i (0 .. $#files) {
        my ($size) = $files[$i] =~ m{/(\d+)\.png$};
        my $dim = $size >= 256 ? 0 : $size;
        $out .= pack("CCCCvvVV", $dim, $dim, 0, 0, 1, 32, length $data[$i], $offset);
        $offset += length $data[$i];
    }
    binmode STDOUT;
    print $out, @data;
' "${files[@]}" >"$here/pidtune.ico"
echo "packaging/windows/pidtune.ico: ${#files[@]} sizes, $(stat -c %s "$here/pidtune.ico") bytes"
