#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# pidtune for 64-bit Windows, built on Debian: Qt for Windows from its sources (once, kept in a
# cache outside the clone), then pidtune, pidtune-monitor, pidtune-scope and their tests,
# cross-compiled with MinGW-w64 and warnings as errors.
#   scripts/windows.sh qt         only Qt for Windows (if not cached)
#   scripts/windows.sh            Qt (if not cached) and the cross build
#   scripts/windows.sh test       ... and the tests, run as Windows programs under Wine
#   scripts/windows.sh package    ... and the portable zip and the installer (build/windows/package)
#   scripts/windows.sh installer  ... the packages, and the installer tried under Wine
#   scripts/windows.sh all        build, test, package, and the installer tried under Wine
#   scripts/windows.sh screenshot docs/windows-screenshot*.png: the window under Wine
# PIDTUNE_WINDOWS_CACHE (default ~/.cache/pidtune) holds the Qt builds, one per Qt version and
# set of options; PIDTUNE_WINDOWS_BUILD_DIR (default build/windows) the cross build;
# PIDTUNE_WINDOWS_TESTS=OFF builds the programs without their tests (for a package alone).
# PIDTUNE_DEBIAN_MIRROR (default http://deb.debian.org/debian) serves qtbase's sources.
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

windows_dir=$PIDTUNE_ROOT/packaging/windows
stage=${1:-build}
case $stage in qt | build | test | package | installer | all | screenshot) ;;
*)
    say "usage: scripts/windows.sh [qt|build|test|package|installer|all|screenshot]"
    exit 2
    ;;
esac

elapsed() { printf 'pidtune: %s: %d s\n' "$1" "$((SECONDS - $2))" >&2; }

# The host's Qt 6 runs moc, uic and rcc for the Windows build, so Qt for Windows must be the
# same version: it is the version of the pins file used.
ensure_packages cmake ninja-build qt6-base-dev librsvg2-bin g++-mingw-w64-x86-64-posix \
    gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 curl xz-utils
host_qt=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null | sed 's/[+~-].*//; s/^[0-9]*://')
pins=$windows_dir/qt-$host_qt.pins
[ -f "$pins" ] || {
    say "no pins for Qt $host_qt (the host's Qt 6) in packaging/windows/: add a qt-$host_qt.pins"
    exit 1
}
# shellcheck source=../packaging/windows/qt-6.4.2.pins
. "$pins"

# The cache entry is named by what decides its contents: the version, the options and the
# toolchain file.
key=$( { printf '%s\n' "$QTBASE_SHA256" "$QTSERIALPORT_SHA256" "${QTBASE_CONFIGURE[@]}";
         cat "$windows_dir/mingw-w64-x86_64.cmake"; } | sha256sum | cut -c1-12)
cache=${PIDTUNE_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/pidtune}
qt=$cache/qt-$QTBASE_VERSION-mingw64-$key
mirror=${PIDTUNE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
toolchain=$cache/toolchain-$(sha256sum <"$windows_dir/mingw-w64-x86_64.cmake" | cut -c1-12).cmake

# Fetches a file to the cache unless a copy with the right sha256 is there, and checks it.
fetch() {
    local url=$1 file=$2 sum=$3
    if ! echo "$sum  $file" | sha256sum -c --status 2>/dev/null; then
        say "downloading $url"
        curl -fsSL --retry 3 -o "$file.part" "$url"
        mv "$file.part" "$file"
    fi
    echo "$sum  $file" | sha256sum -c --status || {
        say "$file: sha256 is not $sum"
        exit 1
    }
}

build_qt() {
    local started=$SECONDS work=$cache/work-$key
    mkdir -p "$cache/sources" "$work"
    cd "$cache/sources"
    fetch "$mirror/$QTBASE_URL" "$QTBASE_FILE" "$QTBASE_SHA256"
    cp "$windows_dir/$QTSERIALPORT_FILE" .
    echo "$QTSERIALPORT_SHA256  $QTSERIALPORT_FILE" | sha256sum -c --status || {
        say "$QTSERIALPORT_FILE: sha256 is not $QTSERIALPORT_SHA256"
        exit 1
    }
    rm -rf "${work:?}"/*
    tar -C "$work" -xf "$QTBASE_FILE"
    tar -C "$work" -xf "$QTSERIALPORT_FILE"
    # Qt records the toolchain file's path and its prefix in its own files: a copy of the toolchain
    # in the cache, named by its contents, and the final prefix from the start.
    mkdir -p "$qt"
    cp "$windows_dir/mingw-w64-x86_64.cmake" "$toolchain"
    local jobs
    jobs=$(nproc 2>/dev/null || echo 2)
    say "building qtbase $QTBASE_VERSION for Windows (about 30 minutes on 2 cores)"
    cmake -S "$work/$QTBASE_DIR" -B "$work/qtbase-build" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_INSTALL_PREFIX="$qt" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        "${QTBASE_CONFIGURE[@]}" >"$work/qtbase-configure.log" 2>&1 ||
        { tail -n 40 "$work/qtbase-configure.log"; exit 1; }
    cmake --build "$work/qtbase-build" --parallel "$jobs" >"$work/qtbase-build.log" 2>&1 ||
        { tail -n 60 "$work/qtbase-build.log"; exit 1; }
    cmake --install "$work/qtbase-build" >/dev/null
    elapsed qtbase "$started"
    started=$SECONDS
    if ! { "$qt/bin/qt-cmake" -S "$work/$QTSERIALPORT_DIR" -B "$work/qtserialport-build" \
        -G Ninja -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake &&
        cmake --build "$work/qtserialport-build" --parallel "$jobs" &&
        cmake --install "$work/qtserialport-build"; } >"$work/qtserialport.log" 2>&1; then
        tail -n 40 "$work/qtserialport.log"
        exit 1
    fi
    elapsed "Qt Serial Port" "$started"
    # Complete, so it counts as cached from now on.
    touch "$qt/pidtune-complete"
    rm -rf "$work"
    cd "$PIDTUNE_ROOT"
}

if [ -f "$qt/pidtune-complete" ]; then
    say "Qt $QTBASE_VERSION for Windows: cached in $qt"
else
    rm -rf "$qt" # an interrupted build
    build_qt
fi
[ "$stage" = qt ] && exit 0

# The cross build: the three programs and the tests, warnings as errors, no time stamps in the
# programs and no build path in them, so that two builds of the same sources are the same bytes.
build=${PIDTUNE_WINDOWS_BUILD_DIR:-$PIDTUNE_ROOT/build/windows}
started=$SECONDS
# rcc stores each resource's modification time, and the icons are made during the build: the
# last commit's time instead.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$PIDTUNE_ROOT" log -1 --format=%ct 2>/dev/null || date +%s)}
QT_RCC_SOURCE_DATE_OVERRIDE=$SOURCE_DATE_EPOCH
export SOURCE_DATE_EPOCH QT_RCC_SOURCE_DATE_OVERRIDE
"$qt/bin/qt-cmake" -S "$PIDTUNE_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DPIDTUNE_QT_MAJOR=6 -DPIDTUNE_WERROR=ON -DPIDTUNE_FIRMWARE_TESTS=OFF \
    -DBUILD_TESTING="${PIDTUNE_WINDOWS_TESTS:-ON}" \
    "-DCMAKE_C_FLAGS=-ffile-prefix-map=$PIDTUNE_ROOT/= -ffile-prefix-map=$build/=" \
    "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$PIDTUNE_ROOT/= -ffile-prefix-map=$build/=" \
    -DCMAKE_EXE_LINKER_FLAGS=-Wl,--no-insert-timestamp \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$PIDTUNE_ROOT/tests/wine/run-test.sh" >"$build.configure.log" 2>&1 ||
    { tail -n 40 "$build.configure.log"; exit 1; }
cmake --build "$build" --parallel "$(nproc 2>/dev/null || echo 2)" >"$build.build.log" 2>&1 ||
    { grep -E 'error|warning' "$build.build.log" | head -n 40; tail -n 20 "$build.build.log"; exit 1; }
elapsed "cross build" "$started"

# Where the programs run: Qt's DLLs and the MinGW runtime beside Qt's own.
mingw_runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
winpthread=$(dirname "$(x86_64-w64-mingw32-gcc-posix -print-file-name=libwinpthread-1.dll)")

# A Wine prefix of the build's own, with a Chinese font, for the tests and the installer's trial.
wine_prefix() {
    ensure_packages wine wine64 xvfb fonts-wqy-microhei
    # Without winemenubuilder, Wine adds no entries of its own to the Linux desktop menus.
    export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        local started=$SECONDS
        wineboot -i >/dev/null 2>&1
        wineserver -w
        elapsed "Wine prefix" "$started"
    fi
    # The server outlives the programs and keeps the standard output and error it was started
    # with: started here on its own, so that nothing waits for those to close. It opens the
    # files, ports included, for the programs: as root it drops the right to ignore file
    # permissions, so that a port the tests play as held by another program answers "access
    # denied" as on Windows (tests/wine/run-test.sh).
    wineserver -k 2>/dev/null || true
    wineserver -w
    local as_user=()
    [ "$(id -u)" -eq 0 ] && as_user=(setpriv '--bounding-set=-dac_override,-dac_read_search' --)
    "${as_user[@]}" wineserver -p >/dev/null 2>&1 </dev/null
    local font
    font=$(fc-list :lang=zh file | head -n 1 | cut -d: -f1)
    if [ -n "$font" ]; then
        cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
        # Wine's own captions (the title bar) fall back to it for Chinese, as Windows' fonts link
        # to its Chinese ones.
        local face
        face=$(fc-query -f '%{family[0]}\n' "$font" | head -n 1)
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v Tahoma /t REG_MULTI_SZ /d "$(basename "$font"),$face" /f >/dev/null 2>&1
    fi
    WINEPATH="$(winepath -w "$qt/bin");$(winepath -w "$mingw_runtime");$(winepath -w "$winpthread")"
    export WINEPATH
}

run_tests() {
    local started=$SECONDS
    wine_prefix
    # The Linux side of the tests' serial lines (tests/wine/ptyhost.c).
    cc -std=c11 -O2 -Wall -Wextra -Werror -o "$build/pidtune-ptyhost" "$PIDTUNE_ROOT/tests/wine/ptyhost.c" -lutil
    export PIDTUNE_PTYHOST_PROGRAM=$build/pidtune-ptyhost
    local status=0
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300) || status=$?
    wineserver -k || true
    elapsed "tests under Wine" "$started"
    return "$status"
}

# An NSIS macro that calls its argument for each path under the folder that find selects, with
# Windows' separators, in a fixed order (NSIS_ORDER=-r reverses it).
nsis_macro() {
    local name=$1 folder=$2 relative
    shift 2
    printf '!macro %s action\n' "$name"
    local order=()
    [ -n "${NSIS_ORDER:-}" ] && order=("$NSIS_ORDER")
    (cd "$folder" && find . "$@" | LC_ALL=C sort "${order[@]}") | while read -r relative; do
        relative=${relative#./}
        # shellcheck disable=SC2016 # ${action} is NSIS's, not the shell's
        printf '    !insertmacro ${action} "%s"\n' "${relative//\//\\}"
    done
    printf '!macroend\n'
}

# What the programs need beside them, the documents, the licences: the portable folder, from which
# the zip and the installer are made. Time stamps from the last commit, so that two builds of the
# same commit give the same bytes.
make_package() {
    local started=$SECONDS version stamp folder out name
    ensure_packages zip nsis
    version=$(sed -n 's/^#define PIDTUNE_VERSION "\(.*\)"/\1/p' "$build/config/pidtune_config.h")
    stamp=${SOURCE_DATE_EPOCH:-$(git -C "$PIDTUNE_ROOT" log -1 --format=%ct 2>/dev/null || date +%s)}
    name=pidtune-$version-windows-x86_64
    out=$build/package
    folder=$out/$name
    rm -rf "$out"
    mkdir -p "$folder/platforms" "$folder/styles" "$folder/licences/qt-third-party"
    local program dll
    for program in pidtune pidtune-monitor pidtune-scope; do
        # strip writes the time into the PE header unless SOURCE_DATE_EPOCH names one.
        SOURCE_DATE_EPOCH=$stamp x86_64-w64-mingw32-strip -o "$folder/$program.exe" "$build/$(cd "$build" && find . -name "$program.exe" -not -path './package/*' | head -n 1)"
    done
    for dll in Qt6Core Qt6Gui Qt6Widgets Qt6SerialPort; do
        cp "$qt/bin/$dll.dll" "$folder/"
    done
    cp "$qt/plugins/platforms/qwindows.dll" "$folder/platforms/"
    cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"
    cp "$mingw_runtime/libstdc++-6.dll" "$mingw_runtime/libgcc_s_seh-1.dll" \
        "$winpthread/libwinpthread-1.dll" "$folder/"
    cp "$PIDTUNE_ROOT/examples/Settings.ini" "$folder/Settings.ini"
    cp "$PIDTUNE_ROOT/README.md" "$folder/README.md"
    # The manual the README links to, with its pictures.
    mkdir -p "$folder/docs"
    cp "$PIDTUNE_ROOT"/docs/*.md "$PIDTUNE_ROOT"/docs/*.png "$folder/docs/"
    cp "$PIDTUNE_ROOT/packaging/windows/README-windows.txt" "$folder/README-windows.txt"
    # pidtune's own licence; Qt's, with where its source is; the GCC runtime's exception.
    cp "$PIDTUNE_ROOT/LICENSE" "$folder/licences/pidtune-MIT.txt"
    # The licence texts out of qtbase's tarball, unpacked once (each pass reads all of it).
    local texts=$out/qt-licences library file
    mkdir -p "$texts"
    tar -C "$texts" -xf "$cache/sources/$QTBASE_FILE" "$QTBASE_DIR/LICENSES" "$QTBASE_DIR/src/3rdparty"
    texts=$texts/$QTBASE_DIR
    cp "$texts/LICENSES/LGPL-3.0-only.txt" "$folder/licences/Qt-LGPL-3.0-only.txt"
    cp "$texts/LICENSES/GPL-3.0-only.txt" "$folder/licences/GPL-3.0-only.txt"
    for library in "${QT_THIRD_PARTY[@]}"; do
        sed -n 's/.*"LicenseFile": "\([^"]*\)".*/\1/p' "$texts/src/3rdparty/$library/qt_attribution.json" |
            while read -r file; do
                [ -f "$texts/src/3rdparty/$library/$file" ] || { say "no licence $library/$file in qtbase"; exit 1; }
                cp "$texts/src/3rdparty/$library/$file" \
                    "$folder/licences/qt-third-party/$library-$(basename "$file" .txt).txt"
            done
    done
    rm -rf "$out/qt-licences"
    cp /usr/share/doc/gcc-mingw-w64-base/copyright "$folder/licences/GCC-runtime-copyright.txt"
    cp /usr/share/doc/mingw-w64-common/copyright "$folder/licences/MinGW-w64-copyright.txt"
    sed -e "s/@VERSION@/$version/g" -e "s/@QTBASE_VERSION@/$QTBASE_VERSION/g" \
        -e "s|@QTBASE_URL@|http://deb.debian.org/debian/$QTBASE_URL|g" -e "s/@QTBASE_SHA256@/$QTBASE_SHA256/g" \
        -e "s/@QTSERIALPORT_FILE@/$QTSERIALPORT_FILE/g" -e "s/@QTSERIALPORT_SHA256@/$QTSERIALPORT_SHA256/g" \
        "$PIDTUNE_ROOT/packaging/windows/THIRD-PARTY.txt.in" >"$folder/licences/THIRD-PARTY.txt"
    # Windows' own line ends in the texts a user opens with Notepad.
    find "$folder" -name '*.txt' -o -name '*.ini' -o -name '*.md' | while read -r file; do
        sed -i 's/\r*$/\r/' "$file"
    done
    find "$folder" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
    find "$folder" -exec touch -h -d "@$stamp" {} +
    (cd "$out" && find "$name" -print | LC_ALL=C sort | TZ=UTC zip -X -D -q -@ "$name.zip")
    # The installer, from the same folder and a list of what is in it.
    {
        nsis_macro PidtuneFolders "$folder" -mindepth 1 -type d
        NSIS_ORDER=-r nsis_macro PidtuneFoldersInnermostFirst "$folder" -mindepth 1 -type d
        nsis_macro PidtuneFiles "$folder" -type f
    } >"$out/files.nsh"
    { printf 'pidtune is free software under the MIT licence:\r\n\r\n'; sed 's/\r*$/\r/' "$PIDTUNE_ROOT/LICENSE"
      printf '\r\n'; sed 's/\r*$/\r/' "$PIDTUNE_ROOT/packaging/windows/licence-notice.txt"; } >"$out/licence.txt"
    SOURCE_DATE_EPOCH=$stamp makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSOURCE="$folder" \
        -DFILES="$out/files.nsh" \
        -DOUTFILE="$out/$name-setup.exe" -DICON="$PIDTUNE_ROOT/packaging/windows/pidtune.ico" \
        -DLICENCE="$out/licence.txt" \
        "$PIDTUNE_ROOT/packaging/windows/pidtune.nsi" >"$out/makensis.log" ||
        { cat "$out/makensis.log"; exit 1; }
    (cd "$out" && sha256sum "$name.zip" "$name-setup.exe")
    elapsed "zip and installer" "$started"
}

# The installer as a user runs it, silently, in the build's Wine prefix: installed, the installed
# pidtune answers --version, uninstalled, and the prefix holds what it held before but the user's
# Settings.ini in Documents\pidtune.
try_installer() {
    local started=$SECONDS version name setup before after local_appdata folder shortcuts documents
    wine_prefix
    version=$(sed -n 's/^#define PIDTUNE_VERSION "\(.*\)"/\1/p' "$build/config/pidtune_config.h")
    name=pidtune-$version-windows-x86_64
    setup=$build/package/$name-setup.exe
    snapshot() {
        (cd "$WINEPREFIX/drive_c" && find . -path '*/[Tt]emp' -prune -o -print | LC_ALL=C sort)
        wine reg query 'HKCU\Software' /s 2>/dev/null | tr -d '\r' | grep -i pidtune || true
    }
    before=$(snapshot)
    wine "$setup" /S # wine returns when the installer has finished
    local_appdata=$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
    folder=$(winepath -u "$local_appdata\\Programs\\pidtune")
    shortcuts=$(winepath -u "$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs\\pidtune")
    documents=$(winepath -u "$(wine cmd /c echo %USERPROFILE% 2>/dev/null | tr -d '\r')\\Documents\\pidtune")
    local file
    for file in "$folder/pidtune.exe" "$shortcuts/pidtune.lnk" "$shortcuts/pidtune-scope.lnk" \
        "$documents/Settings.ini"; do
        [ -f "$file" ] || { say "the installer did not install $file"; exit 1; }
    done
    local answer
    answer=$(wine "$folder/pidtune.exe" --version 2>/dev/null | tr -d '\r')
    [ "$answer" = "pidtune $version" ] || { say "installed pidtune.exe --version answered '$answer'"; exit 1; }
    echo "installed: $answer"
    # The uninstaller runs from a copy of itself in the temporary folder and returns at once:
    # done when the installation folder is gone.
    wine "$folder/uninstall.exe" /S
    local waited
    for waited in $(seq 120); do
        [ -d "$folder" ] || break
        sleep 0.5
    done
    [ -d "$folder" ] && { say "the uninstaller did not finish within $((waited / 2)) s"; exit 1; }
    after=$(snapshot)
    # The user's Settings.ini stays, and so does the folder Windows keeps for every per-user
    # program (AppData\Local\Programs), which the installer makes in a new profile.
    local kept='^\./users/[^/]*/\(Documents/pidtune\(/Settings\.ini\)\?\|AppData/Local/Programs\)$'
    after=$(printf '%s\n' "$after" | grep -v "$kept" || true)
    before=$(printf '%s\n' "$before" | grep -v "$kept" || true)
    if [ "$before" != "$after" ]; then
        diff <(printf '%s\n' "$before") <(printf '%s\n' "$after") >&2 || true
        say "the uninstaller left something behind or removed too much"
        exit 1
    fi
    [ -f "$documents/Settings.ini" ] || { say "the uninstaller removed the user's Settings.ini"; exit 1; }
    echo "uninstalled: nothing of pidtune left but Documents\\pidtune\\Settings.ini"
    wineserver -k || true
    elapsed "installer under Wine" "$started"
}

# The README's pictures of the window under Wine, from the portable folder as a user unpacks it
# (its Settings.ini fills the channels): at 100 % and at 150 % display scaling, on Wine's own
# desktop so that the frame is Windows'.
take_screenshots() {
    local started=$SECONDS version folder dpi
    ensure_packages xvfb xauth imagemagick
    wine_prefix
    version=$(sed -n 's/^#define PIDTUNE_VERSION "\(.*\)"/\1/p' "$build/config/pidtune_config.h")
    folder=$build/package/pidtune-$version-windows-x86_64
    [ -f "$folder/pidtune.exe" ] || make_package
    for dpi in 96 144; do
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
        wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
        # shellcheck disable=SC2016 # expanded by the inner shell
        PIDTUNE_SCREENSHOT=$build/screenshot-$dpi.png PIDTUNE_FOLDER=$folder \
            xvfb-run -a -s "-screen 0 1600x900x24" bash -c '
                cd "$PIDTUNE_FOLDER"
                wine explorer /desktop=pidtune,1500x800 pidtune.exe >/dev/null 2>&1 &
                sleep 12
                import -window root "$PIDTUNE_SCREENSHOT"
                wineserver -k'
    done
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
    wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
    # Wine's desktop around the window trimmed away: the screen beyond it, then the desktop.
    convert "$build/screenshot-96.png" -trim +repage -trim +repage "$PIDTUNE_ROOT/docs/windows-screenshot.png"
    convert "$build/screenshot-144.png" -trim +repage -trim +repage "$PIDTUNE_ROOT/docs/windows-screenshot-150.png"
    elapsed "screenshots under Wine" "$started"
}

case $stage in
screenshot) take_screenshots ;;
test) run_tests ;;
package) make_package ;;
installer)
    make_package
    try_installer
    ;;
all)
    run_tests
    make_package
    try_installer
    ;;
esac
