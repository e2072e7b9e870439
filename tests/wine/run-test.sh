#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one test program of the Windows build under Wine (ctest's emulator, set by
# scripts/windows.sh): with its own pidtune-ptyhost, which makes the pseudo-terminals that the
# test's devices are played on and links them as COM ports in the Wine prefix.
# Needs WINEPREFIX, WINEPATH and PIDTUNE_PTYHOST_PROGRAM, as scripts/windows.sh sets them.
set -euo pipefail
: "${WINEPREFIX:?}" "${PIDTUNE_PTYHOST_PROGRAM:?}"
work=$(mktemp -d)
"$PIDTUNE_PTYHOST_PROGRAM" "$WINEPREFIX/dosdevices" "$work/port" &
host=$!
trap 'kill "$host" 2>/dev/null; wait "$host" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
    [ -s "$work/port" ] && break
    sleep 0.05
done
[ -s "$work/port" ] || { echo "run-test.sh: pidtune-ptyhost did not start" >&2; exit 1; }
PIDTUNE_PTYHOST=$(winepath -w "$work/port")
export PIDTUNE_PTYHOST
status=0
wine "$@" || status=$?
exit "$status"
