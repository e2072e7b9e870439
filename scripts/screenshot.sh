#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes the README's pictures from real runs on a virtual X display. Installs what is missing on
# Debian/Ubuntu.
#   docs/screenshot.png     the window alone, started in examples/ so that it shows
#                           examples/Settings.ini
#   docs/firmware-demo.png  the window and pidtune-scope on the example firmware under QEMU, as
#                           scripts/firmware-demo.sh opens them, after Kp 5, a set-point step,
#                           then the integral limit and Ki were released with the mouse
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

if [ "${1:-}" != --on-display ]; then
    choose_qt
    runtime=(xvfb xauth x11-utils xdotool imagemagick)
    [ "$PIDTUNE_QT" = 6 ] && runtime+=(qt6-qpa-plugins)
    # shellcheck disable=SC2046
    ensure_packages $(build_packages) $(firmware_packages) "${runtime[@]}"
    ensure_cjk_font
    build
    export PIDTUNE_BUILD_DIR
    exec xvfb-run -a -s "-screen 0 1024x900x24" "$0" --on-display
fi

export QT_QPA_PLATFORM=xcb
mkdir -p "$PIDTUNE_ROOT/docs"
log=$(mktemp)
emulator_pid=
pids=()
trap 'kill $emulator_pid "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -f "$log" "$log.err"' EXIT

# The id of the shown window with this exact title, once it is there.
window_id() {
    local id
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    say "the window \"$1\" did not appear"
    return 1
}

# Points are in pidtune's coordinates: the form's geometry (ui/mainwindow.ui) below the 17 px of
# menu bar and tool bar. Without a window manager the window opens at the screen's top left.
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.3; }
drag() { # from x, to x, at y
    xdotool mousemove "$1" "$3" mousedown 1 mousemove $((($1 + $2) / 2)) "$3" mousemove "$2" "$3" mouseup 1
}

# The window alone.
(cd "$PIDTUNE_ROOT/examples" && exec "$PIDTUNE_BUILD_DIR/pidtune" >/dev/null 2>&1) &
pids=($!)
id=$(window_id 'PID控制')
sleep 1 # first paint
import -window "$id" "$PIDTUNE_ROOT/docs/screenshot.png"
kill "${pids[@]}"
wait "${pids[@]}" 2>/dev/null || true
pids=()
say "wrote docs/screenshot.png"

# The firmware demo: the scope below the window.
start_board mps2-an385 "$log"
tail --pid="$emulator_pid" -n +2 -f "$log" |
    "$PIDTUNE_BUILD_DIR/tools/scope/pidtune-scope" --time t - >/dev/null 2>&1 &
pids+=($!)
(cd "$PIDTUNE_ROOT/examples" && PIDTUNE_EXTRA_PORTS=$board_pty exec "$PIDTUNE_BUILD_DIR/pidtune" >/dev/null 2>&1) &
pids+=($!)
window_id 'PID控制' >/dev/null
scope=$(window_id 'pidtune-scope – 标准输入')
xdotool windowmove "$scope" 0 393 windowsize "$scope" 877 480
sleep 1
click 110 47 # 串口号: the board's terminal, the last entry
xdotool key End Return
sleep 0.3
click 205 44 # 打开串口
for y in 112 152 232 272; do click 807 $y; done # 使能 of Kp, Ki, the integral limit, the set-point
drag 217 410 112 # Kp 5
sleep 1
drag 410 507 272 # set-point about 50
sleep 2.5
drag 217 620 232 # integral limit 100
drag 217 310 152 # Ki about 12
sleep 4
# A picture of a run that went wrong is no example: the board must have had them all.
for parameter in 1 5 4 2; do
    grep -q "^param id=$parameter " "$log" || { say "the board got no parameter $parameter"; exit 1; }
done
import -window root -crop 877x873+0+0 +repage "$PIDTUNE_ROOT/docs/firmware-demo.png"
say "wrote docs/firmware-demo.png"
