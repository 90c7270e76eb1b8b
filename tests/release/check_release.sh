#!/usr/bin/env bash
# Usage: tests/release/check_release.sh DIST VERSION FOLDER
#
# Checks both release zips in DIST (scripts/release --check runs it) with
# check_zip.py. A zip whose program this machine runs is unpacked into the
# Downloads folder of a fresh Wine prefix (FOLDER/check/wine-ARCH) and run
# there against the LCD Manager stand-in of the test build tree. A kernel
# without 32-bit support runs no 32-bit program: the 32-bit zip then gets
# every check that needs no run, and the output says so.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"

dist=$1 version=$2 work=$3/check
PYTHON=/usr/bin/python3
JOBS=${JOBS:-2}
WINESERVER=/usr/lib/wine/wineserver
product=$(sed -n 's/^#define PIXWICK_NAME "\([^ "]*\) .*/\1/p' "$REPO/src/app.h")
prefixes=()

stop_prefixes() {
    local prefix
    for prefix in "${prefixes[@]}"; do
        WINEPREFIX=$prefix "$WINESERVER" -k >/dev/null 2>&1 || true
    done
}
trap stop_prefixes EXIT

# The stand-in from the test tree of that architecture, built when missing.
build_standin() { # arch
    local arch=$1 toolchain=mingw64.cmake
    [ "$arch" = win32 ] && toolchain=mingw32.cmake
    [ -f "$BUILD_ROOT/$arch/build.ninja" ] ||
        configure_tree "$arch" "$toolchain" -DHIDAPI_ROOT="$BUILD_ROOT/third_party"
    cmake --build "$BUILD_ROOT/$arch" -j "$JOBS" --target lcdmon lcdmon_server >/dev/null
}

fresh_prefix() { # arch
    export WINEPREFIX=$work/wine-$1
    prefixes+=("$WINEPREFIX")
    prepare_wine_prefix
}

rm -rf "$work"
mkdir -p "$work"
status=0
for arch in win64 win32; do
    args=("$dist/pixwick-$version-$arch.zip" --arch "$arch" --product "$product" --version "$version"
          --repo "$REPO" --build-path "$REPO" --build-path "$BUILD_ROOT")
    if [ "$arch" = win32 ] && ! can_run_32bit; then
        log "NOTE: this kernel runs no 32-bit programs: the $arch zip is checked without running it"
        "$PYTHON" "$REPO/tests/release/check_zip.py" "${args[@]}" --into "$work/$arch" || status=1
        continue
    fi
    build_standin win64
    if [ "$arch" = win32 ]; then
        build_standin win32
        args+=(--server32 "$(winepath_of "$BUILD_ROOT/win32/standins/lcdmon/LCDMonServer.dll")")
    fi
    log "checking the $arch zip in a fresh Wine prefix"
    fresh_prefix "$arch"
    user=$WINEPREFIX/drive_c/users/$(id -un)
    mkdir -p "$work/$arch"
    "$PYTHON" "$REPO/tests/release/check_zip.py" "${args[@]}" --into "$user/Downloads/pixwick-$version-$arch" \
        --lcdmon "$BUILD_ROOT/win64/standins/lcdmon/LCDMon.exe" --wine "$WINE" \
        --documents "$user/Documents" --work "$work/$arch" || status=1
done
exit $status
