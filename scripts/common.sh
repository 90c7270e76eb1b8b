# Shared by the scripts: paths, package installation and the private Wine prefix.
# Source it; it sets REPO, BUILD_ROOT, WINEPREFIX and the Wine environment.

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_ROOT=${BUILD_ROOT:-$REPO/build}
export WINEPREFIX=${PIXWICK_WINEPREFIX:-$REPO/build/wine}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64

PACKAGES="cmake ninja-build clang libclang-rt-14-dev googletest
 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix gcc-mingw-w64-x86-64-posix gcc-mingw-w64-i686-posix
 mingw-w64-tools wine64 wine fonts-dejavu-core dpkg-dev xvfb xauth wine64-tools"
PACKAGES="$PACKAGES python3" # scripts/release writes the zips with it

log() { printf '== %s\n' "$*" >&2; }

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
    local missing=()
    for p in $PACKAGES; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# 32-bit Windows programs run in the same 64-bit prefix (WoW64) once Debian's
# 32-bit Wine loader is there; --no-remove keeps the 64-bit packages.
install_wine32() {
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' && return 0
    log "installing wine32:i386"
    dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends --no-remove \
        wine32:i386 >/dev/null
}

# Whether this kernel runs 32-bit programs at all: one started with
# ia32_emulation=off refuses every 32-bit executable, Wine's loader included.
can_run_32bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Windows registry edits inside the prefix go through regedit files.
wine_reg_import() {
    local file=$WINEPREFIX/import-$$.reg
    printf 'REGEDIT4\n\n%s\n' "$1" > "$file"
    "$WINE" regedit /S "$(winepath_of "$file")"
    rm -f "$file"
}

winepath_of() {
    # Z: maps the host root in every prefix.
    printf 'Z:%s' "$(printf '%s' "$1" | sed 's|/|\\|g')"
}

prepare_wine_prefix() {
    if [ -f "$WINEPREFIX/.pixwick-ready" ]; then return 0; fi
    log "creating Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" /usr/bin/wineboot -i >/dev/null 2>&1 || true
    "$WINE" wineboot -u >/dev/null 2>&1 || true
    # Headless windows, and fonts that read well at 8 and 11 pixels.
    wine_reg_import '[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Lucida Console"="DejaVu Sans Mono"
"Microsoft Sans Serif"="DejaVu Sans"'
    /usr/lib/wine/wineserver -w
    keep_user_folders_in_prefix
    touch "$WINEPREFIX/.pixwick-ready"
}

# Wine links Documents, Desktop and the like to $HOME; the program's settings
# and logs belong inside the prefix, not in the home folder of whoever runs it.
keep_user_folders_in_prefix() {
    local link
    for link in "$WINEPREFIX"/drive_c/users/*/{Desktop,Documents,Downloads,Music,Pictures,Videos}; do
        if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
    done
}

# Configures a build tree once; later calls only update the given options.
configure_tree() { # name toolchain-or-empty extra-args...
    local name=$1 toolchain=$2; shift 2
    local dir=$BUILD_ROOT/$name
    if [ ! -f "$dir/build.ninja" ]; then
        local args=(-G Ninja -S "$REPO" -B "$dir" -DCMAKE_BUILD_TYPE=Release)
        [ -n "$toolchain" ] && args+=(-DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/$toolchain")
        cmake "${args[@]}" "$@" >/dev/null
    elif [ $# -gt 0 ]; then
        cmake -S "$REPO" -B "$dir" "$@" >/dev/null
    fi
}
