#!/usr/bin/env bash
# Can this machine run the product's own width, 32-bit Windows programs?   runs-i686.sh PREFIX
# Exit 0 when a tiny i686 program ran under Wine in PREFIX; otherwise exit 1 with the reason on
# standard output (a few words, for the caller's own line). Some kernels run no 32-bit programs at all: that is checked first
# with a 93-byte i386 program that only exits, before anything is installed. Where the kernel
# runs them, 32-bit Wine (wine32:i386) is installed if missing, and PREFIX is made once it is
# there (a prefix made before cannot start 32-bit programs).
set -uo pipefail
prefix=$1
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT

# ELF header, one loadable segment, then: mov eax,1; xor ebx,ebx; int 0x80 (exit 0).
printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0\0\0\0\0\0\0\0\0'\
'\x34\0\x20\0\x01\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x5d\0\0\0\x5d\0\0\0\x05\0\0\0'\
'\0\x10\0\0\xb8\x01\0\0\0\x31\xdb\xcd\x80' > "$probe_dir/exit32"
chmod +x "$probe_dir/exit32"
if ! "$probe_dir/exit32" 2>/dev/null; then
    echo "this kernel does not run 32-bit programs"
    exit 1
fi

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
if ! have_pkg wine32:i386; then
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "bootstrap: installing wine32:i386" >&2
    { $sudo dpkg --add-architecture i386 && $sudo apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends wine32:i386; } >/dev/null 2>&1 ||
        { echo "wine32:i386 could not be installed"; exit 1; }
fi
if [ ! -f "$prefix/.nyra-wine32" ]; then
    rm -rf "$prefix"
    bash "$(dirname "$0")/bootstrap.sh" "$prefix" >&2
    touch "$prefix/.nyra-wine32"
fi

printf 'int main(void) { return 0; }\n' > "$probe_dir/probe.c"
i686-w64-mingw32-gcc -o "$probe_dir/probe.exe" "$probe_dir/probe.c" 2>/dev/null ||
    { echo "the i686 compiler could not build a probe"; exit 1; }
export WINEPREFIX=$(cd "$prefix" && pwd) WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
timeout 120 wine "$probe_dir/probe.exe" </dev/null >/dev/null 2>&1
started=$?
wineserver -k 2>/dev/null
if [ $started -ne 0 ]; then
    echo "a 32-bit Windows program does not start under Wine here"
    exit 1
fi
