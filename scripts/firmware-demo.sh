#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The example firmware on an emulated board, with pidtune open on its serial line and
# pidtune-scope plotting its loop: release Kp, Ki or the set-point in pidtune and watch the curve
# answer in the scope; the board's reports and the scope's step measures appear in this terminal.
# Installs what is missing on Debian.
#   scripts/firmware-demo.sh               Cortex-M3 (mps2-an385) under QEMU
#   scripts/firmware-demo.sh atmega328p    ATmega328P under simavr
# Run it on a desktop (or under xvfb-run -a); close pidtune's window to stop everything.
set -euo pipefail
. "$(dirname "$0")/common.sh"

board=${1:-mps2-an385}
case "$board" in mps2-an385|atmega328p) ;; *) say "boards: mps2-an385, atmega328p"; exit 2 ;; esac

choose_qt
runtime=()
[ "$PIDTUNE_QT" = 6 ] && runtime+=(qt6-qpa-plugins)
# shellcheck disable=SC2046
ensure_packages $(build_packages) $(firmware_packages) "${runtime[@]}"
ensure_cjk_font
build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    say "no display to open the windows on; on a headless machine: apt-get install xvfb, then xvfb-run -a $0"
    exit 2
fi

log=$(mktemp)
emulator_pid=
pids=()
trap 'kill $emulator_pid "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -f "$log" "$log.err"' EXIT
start_board "$board" "$log"

say "the $board firmware listens on $board_pty; its reports follow."
say "In pidtune: pick $board_pty (last in 串口号), press 打开串口, tick a channel and release its slider."
say "Channels 1-6 are Kp, Ki, Kd, integral limit, set-point and output filter (examples/Settings.ini):"
say "raise Kp, then move the set-point, and watch y answer in pidtune-scope. Close pidtune to stop."
# The scope reads the whole log and plots its stream lines (t=..., 50 a second) on the board's
# own clock; this terminal gets the other lines, and the scope's step measures. tail ends with
# the emulator.
tail --pid="$emulator_pid" -n +2 -f "$log" | "$PIDTUNE_BUILD_DIR/tools/scope/pidtune-scope" --time t - &
pids+=($!)
tail --pid="$emulator_pid" -n +2 -f "$log" | grep --line-buffered -v '^t=' &
pids+=($!)
cd "$PIDTUNE_ROOT/examples"
PIDTUNE_EXTRA_PORTS=$board_pty "$PIDTUNE_BUILD_DIR/pidtune"
