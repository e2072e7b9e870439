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
# As root the test's own Wine drops the right to ignore file permissions, so that a port the test
# plays as held by another program (its terminal's permissions refuse every opening) answers
# "access denied", as Windows does.
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv '--bounding-set=-dac_override,-dac_read_search' --)
# A console program's output under Wine does not reach a standard output that is redirected to a
# file or pipe, as ctest's is: Qt Test writes its log to a file, shown here.
# Wine hands a Windows program the Linux environment except Qt's own variables (QT_*, which
# would otherwise point Windows programs at Linux plugins): the platform goes as an argument.
platform=()
# Only a program with a GUI takes that argument: one that loads Qt's GUI library.
if [ -n "${QT_QPA_PLATFORM:-}" ] &&
    grep -q 'DLL Name: Qt[0-9]*Gui' <<<"$(x86_64-w64-mingw32-objdump -p "$1")"; then
    platform=(-platform "$QT_QPA_PLATFORM")
fi
status=0
"${as_user[@]}" wine "$1" "${platform[@]}" -o "$(winepath -w "$work/log.txt"),txt" "${@:2}" || status=$?
[ -f "$work/log.txt" ] && tr -d '\r' <"$work/log.txt"
exit "$status"
