#!/bin/sh
# SPDX-License-Identifier: MIT
# The decoder promises firmware that it needs nothing of a C library but memcpy: compiled for a
# Cortex-M3 and an AVR at each optimisation level, its object may leave only memcpy undefined
# (compilers like to turn byte loops into memset and memmove calls).
#   decoder_symbols.sh <source dir>
set -eu
decoder=$1/device/pidtune_frame.c
status=0 tried=0
for target in "arm-none-eabi -mcpu=cortex-m3 -mthumb" "avr -mmcu=atmega328p"; do
    prefix=${target%% *} flags=${target#* }
    command -v "$prefix-gcc" >/dev/null 2>&1 || continue
    for level in -Os -O2 -O3; do
        object=$(mktemp)
        # shellcheck disable=SC2086 # flags is a list of options
        "$prefix-gcc" $flags $level -std=c99 -c "$decoder" -o "$object"
        needs=$("$prefix-nm" -u "$object" | awk '$2 != "memcpy" { printf "%s ", $2 }')
        rm -f "$object"
        tried=$((tried + 1))
        if [ -n "$needs" ]; then
            echo "$prefix $level needs: $needs" >&2
            status=1
        fi
    done
done
if [ "$tried" -eq 0 ]; then
    echo "skipped: no cross compiler: apt-get install gcc-arm-none-eabi gcc-avr"
    [ -z "${PIDTUNE_REQUIRE_FIRMWARE_TOOLS:-}" ] && exit 77
    exit 1
fi
exit $status
