#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes docs/screenshot.png: the real window on a virtual X display, started in examples/ so
# that it shows examples/Settings.ini. Installs what is missing on Debian/Ubuntu.
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

choose_qt
runtime=(xvfb xauth x11-utils imagemagick)
[ "$PIDTUNE_QT" = 6 ] && runtime+=(qt6-qpa-plugins)
# shellcheck disable=SC2046
ensure_packages $(build_packages) "${runtime[@]}"
ensure_cjk_font
build

out="$PIDTUNE_ROOT/docs/screenshot.png"
mkdir -p "$(dirname "$out")"
cd "$PIDTUNE_ROOT/examples"
# shellcheck disable=SC2016 # expanded by the inner shell
xvfb-run -a -s "-screen 0 1024x600x24" bash -c '
    QT_QPA_PLATFORM=xcb "$1" >/dev/null 2>&1 &
    app=$!
    for _ in $(seq 100); do
        id=$(xwininfo -root -tree 2>/dev/null | awk "/\"PID控制\"/ {print \$1; exit}")
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || { echo "pidtune: the window did not appear" >&2; kill $app; exit 1; }
    sleep 1 # first paint
    import -window "$id" "$2"
    kill $app
' _ "$PIDTUNE_BUILD_DIR/pidtune" "$out"
say "wrote $out"
