# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Shared by run.sh, test.sh and screenshot.sh: pick the Qt version, install what is missing,
# configure and build. Sourced, not run.

PIDTUNE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

say() { printf 'pidtune: %s\n' "$*" >&2; }

# Installed under this name, or provided by an installed package (Debian 12 ships Qt 6 Serial
# Port as qt6-serialport-dev, which provides libqt6serialport6-dev).
have_package() {
    dpkg-query -W -f='${db:Status-Abbrev}|${Package}|${Provides}\n' 2>/dev/null |
        awk -F'|' -v p="$1" '$1 ~ /^ii/ && ($2 == p || (", " $3 ",") ~ (", " p "[ ,]")) { found = 1 }
                             END { exit !found }'
}

# Installs the given Debian packages where they are missing: with apt when running as root,
# otherwise by printing the exact command and stopping.
ensure_packages() {
    command -v dpkg-query >/dev/null 2>&1 || {
        say "not a Debian/Ubuntu system: make sure these (or their equivalents) are installed: $*"
        return 0
    }
    local missing=() p
    for p in "$@"; do have_package "$p" || missing+=("$p"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        say "missing packages; install them with:"
        printf '  sudo apt-get install -y %s\n' "${missing[*]}" >&2
        exit 1
    fi
    say "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    if ! apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null; then
        apt-get update -q >/dev/null
        apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# PIDTUNE_QT=5 or 6 chooses; otherwise an installed Qt 6, an installed Qt 5, or else Qt 6 where
# the distribution has it.
choose_qt() {
    if [ -n "${PIDTUNE_QT:-}" ]; then
        case "$PIDTUNE_QT" in 5|6) ;; *) say "PIDTUNE_QT must be 5 or 6"; exit 2 ;; esac
    elif have_package libqt6serialport6-dev; then PIDTUNE_QT=6
    elif have_package libqt5serialport5-dev; then PIDTUNE_QT=5
    elif apt-cache show qt6-base-dev >/dev/null 2>&1; then PIDTUNE_QT=6
    else PIDTUNE_QT=5
    fi
    export PIDTUNE_QT
}

build_packages() {
    if [ "$PIDTUNE_QT" = 6 ]; then
        local serial=libqt6serialport6-dev
        apt-cache show qt6-serialport-dev >/dev/null 2>&1 && serial=qt6-serialport-dev
        echo cmake make g++ librsvg2-bin qt6-base-dev "$serial"
    else
        echo cmake make g++ librsvg2-bin qtbase5-dev libqt5serialport5-dev
    fi
}

# Cross compilers and emulators for the example firmware's tests (tests/e2e), which skip without
# them; pkg-config for the decoder package's test.
firmware_packages() {
    echo gcc-arm-none-eabi libnewlib-arm-none-eabi qemu-system-arm gcc-avr avr-libc libsimavr-dev \
        gcc-s390x-linux-gnu libc6-dev-s390x-cross qemu-user pkg-config
}

# Configures (cheap when nothing changed) and builds build/qt5 or build/qt6. Arguments are
# further cmake arguments for the configure step.
build() {
    PIDTUNE_BUILD_DIR=${PIDTUNE_BUILD_DIR:-$PIDTUNE_ROOT/build/qt$PIDTUNE_QT}
    # shellcheck disable=SC2086 # PIDTUNE_CMAKE_ARGS is a list of arguments
    cmake -S "$PIDTUNE_ROOT" -B "$PIDTUNE_BUILD_DIR" -DPIDTUNE_QT_MAJOR="$PIDTUNE_QT" \
        -DCMAKE_BUILD_TYPE="${PIDTUNE_BUILD_TYPE:-RelWithDebInfo}" ${PIDTUNE_CMAKE_ARGS:-} "$@" >/dev/null
    cmake --build "$PIDTUNE_BUILD_DIR" --parallel "$(nproc 2>/dev/null || echo 2)" -- --no-print-directory >/dev/null \
        || cmake --build "$PIDTUNE_BUILD_DIR" --parallel 1 -- --no-print-directory
}

# A CJK font, or the Chinese captions are drawn as boxes.
ensure_cjk_font() {
    if command -v fc-list >/dev/null 2>&1 && [ -n "$(fc-list :lang=zh 2>/dev/null)" ]; then
        return 0
    fi
    ensure_packages fontconfig fonts-wqy-microhei
}

# Starts the example firmware's image for a board (mps2-an385 under QEMU, atmega328p under
# simavr) from the build tree, its log going to the file $1, and waits until the emulator names
# the pseudo-terminal of the board's UART. Sets emulator_pid and board_pty. The build must have
# found the cross compilers (firmware_packages).
start_board() {
    local board=$1 log=$2 images=$PIDTUNE_BUILD_DIR/tests/e2e emulator
    if [ "$board" = mps2-an385 ]; then
        # UART0 on a new pseudo-terminal for pidtune, UART1 (the log) on standard output.
        emulator=(qemu-system-arm -machine mps2-an385 -nodefaults -nic none -display none -monitor none
                  -serial pty -serial stdio -kernel "$images/mps2-an385/pidtune-firmware-mps2-an385.elf")
    else
        emulator=("$images/pidtune-simavr-pty" "$images/atmega328p/pidtune-firmware-atmega328p.elf")
    fi
    # QEMU's own warnings (an unconnected network card on this board) are shown only if it
    # fails to start.
    "${emulator[@]}" >"$log" 2>"$log.err" &
    # shellcheck disable=SC2034 # for the caller
    emulator_pid=$!
    board_pty=
    for _ in $(seq 50); do
        board_pty=$(grep -o -m1 '/dev/pts/[0-9]*' "$log" || true)
        [ -n "$board_pty" ] && return 0
        sleep 0.1
    done
    cat "$log" "$log.err" >&2
    say "the emulator named no terminal"
    return 1
}
