#!/usr/bin/env bash
# Runs a command against our private Wine prefix on a virtual X display:
#   wine-run.sh PREFIX COMMAND...
# A persistent wineserver and one warm-up process come first, outside the command's pipes
# (helpers such as winedevice.exe would otherwise inherit them and stall the first test), so
# each Wine process after that starts in milliseconds. The prefix's server is stopped at the end.
set -uo pipefail
prefix=$(cd "$1" && pwd); shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64

if [ -z "${NYRA_IN_XVFB:-}" ]; then
    NYRA_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$prefix" "$@"
fi
wineserver -p
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1
"$@"
rc=$?
wineserver -k 2>/dev/null
exit $rc
