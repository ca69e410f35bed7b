#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine, then makes the
# private Wine prefix. Idempotent and quiet: a second run does nothing and prints nothing.
set -euo pipefail

prefix_dir=${1:-build/wineprefix}
need=()

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# The product is the i686 build. The Windows tests run the x86_64 build of the same sources
# under wine64: it needs no 32-bit support from the kernel, which some machines lack (where it
# has it, scripts/runs-i686.sh adds 32-bit Wine). DCMTK and dicom3tools make and check the
# demo's DICOM file natively.
pkgs=(cmake ninja-build make g++ googletest libgtest-dev libbenchmark-dev libstb-dev
      g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
      g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
      wine wine64 xvfb xauth
      dcmtk dicom3tools)
for p in "${pkgs[@]}"; do have_pkg "$p" || need+=("$p"); done
[ -n "${EXTRA_PACKAGES:-}" ] && for p in $EXTRA_PACKAGES; do have_pkg "$p" || need+=("$p"); done

if [ ${#need[@]} -gt 0 ]; then
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "bootstrap: installing ${need[*]}"
    $sudo apt-get update -qq >/dev/null
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# A private prefix keeps the user's own Wine setup out of our tests and vice versa.
if [ ! -f "$prefix_dir/.nyra-ready-2" ]; then
    mkdir -p "$prefix_dir"
    prefix_abs=$(cd "$prefix_dir" && pwd)
    export WINEPREFIX="$prefix_abs" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    echo "bootstrap: creating Wine prefix $prefix_abs"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 </dev/null || true
    # Without a window manager every dialog takes ~2 s to close unless X11 windows are unmanaged.
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
    # A crash in a test must end that test program, not wait for a debugger nobody attaches.
    /usr/lib/wine/wine64 reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d false /f >/dev/null 2>&1 </dev/null
    wineserver -w 2>/dev/null || true
    touch "$prefix_dir/.nyra-ready-2"
fi
