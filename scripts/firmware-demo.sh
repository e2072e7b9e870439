#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The example firmware on an emulated board, with pidtune open on its serial line: release a
# slider and the board's report appears in this terminal. Installs what is missing on Debian.
#   scripts/firmware-demo.sh               Cortex-M3 (mps2-an385) under QEMU
#   scripts/firmware-demo.sh atmega328p    ATmega328P under simavr
# Run it on a desktop (or under xvfb-run -a); close the window to stop both.
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
    say "no display to open the window on; on a headless machine: apt-get install xvfb, then xvfb-run -a $0"
    exit 2
fi

images=$PIDTUNE_BUILD_DIR/tests/e2e
if [ "$board" = mps2-an385 ]; then
    # UART0 on a new pseudo-terminal for pidtune, UART1 (the reports) on standard output.
    emulator=(qemu-system-arm -machine mps2-an385 -nodefaults -nic none -display none -monitor none
              -serial pty -serial stdio -kernel "$images/mps2-an385/pidtune-firmware-mps2-an385.elf")
else
    emulator=("$images/pidtune-simavr-pty" "$images/atmega328p/pidtune-firmware-atmega328p.elf")
fi

# Its standard output is the firmware's log; QEMU's own warnings (an unconnected network card on
# this board) are shown only if it fails to start.
log=$(mktemp)
"${emulator[@]}" >"$log" 2>"$log.err" &
emulator_pid=$!
tail_pid=
trap 'kill $emulator_pid $tail_pid 2>/dev/null; wait 2>/dev/null; rm -f "$log" "$log.err"' EXIT
pty=
for _ in $(seq 50); do
    pty=$(grep -o -m1 '/dev/pts/[0-9]*' "$log" || true)
    [ -n "$pty" ] && break
    sleep 0.1
done
[ -n "$pty" ] || { cat "$log" "$log.err" >&2; say "the emulator named no terminal"; exit 1; }

say "the $board firmware listens on $pty; its reports follow."
say "In the window: pick $pty (last in 串口号), press 打开串口, and release a slider."
say "Channels 1-6 are Kp, Ki, Kd, integral limit, set-point and output filter (examples/Settings.ini);"
say "raise Kp and the set-point and watch y follow in the state lines. Close the window to stop."
# Without the loop's 50 stream lines a second (t=...), which are for a plotter, not for reading;
# tail ends with the emulator.
tail --pid="$emulator_pid" -n +2 -f "$log" | grep --line-buffered -v '^t=' &
tail_pid=$!
cd "$PIDTUNE_ROOT/examples"
PIDTUNE_EXTRA_PORTS=$pty "$PIDTUNE_BUILD_DIR/pidtune"
