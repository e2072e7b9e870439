#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds pidtune if needed and starts it. Installs what is missing on Debian/Ubuntu.
# Settings.ini is read from the directory you run this from.
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

choose_qt
runtime=()
[ "$PIDTUNE_QT" = 6 ] && runtime+=(qt6-qpa-plugins)
# shellcheck disable=SC2046
ensure_packages $(build_packages) "${runtime[@]}"
ensure_cjk_font
build

# pidtune answers these without a display.
for argument in "$@"; do
    case "$argument" in -h|--help|--help-all|-v|--version) exec "$PIDTUNE_BUILD_DIR/pidtune" "$@" ;; esac
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    say "no display to open the window on."
    say "Run it from a terminal inside your desktop session, or over SSH with X forwarding (ssh -X),"
    say "or on a virtual display: apt-get install xvfb, then xvfb-run -a $0"
    exit 2
fi
exec "$PIDTUNE_BUILD_DIR/pidtune" "$@"
