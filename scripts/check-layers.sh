#!/usr/bin/env bash
# Fails when a source file includes a header of a folder above its own. The layer order is the
# one the top CMakeLists.txt declares (NYRA_DEPS_<folder>: the folders a folder may use), read
# from there so it is written down once. resources/ holds only resource ids, usable by all;
# the DLL's entry point and exports sit on top of everything (CMake keeps them out of the
# plugin library for that reason).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
declare -A allowed
while read -r area deps; do
    allowed[$area]=" $area resources ${deps//;/ } "
done < <(sed -n 's/^set(NYRA_DEPS_\([a-z]*\) *"\([a-z;]*\)")$/\1 \2/p' "$root/CMakeLists.txt")

# Known exception, removed by the split of the plugin folder into a base and a host folder:
# the process-wide state sits in the lowest folder but holds settings and backend records.
exceptions="src/plugin/globals.h:settings src/plugin/globals.h:backend"

bad=0
cd "$root"
while IFS=: read -r file line target; do
    area=${file#src/}; area=${area%%/*}
    case " $exceptions " in *" $file:$target "*) continue ;; esac
    case $file in src/plugin/dllmain_win.cpp | src/plugin/exports_*_win.cpp) continue ;; esac
    [ -n "${allowed[$area]+x}" ] || { echo "$file: folder '$area' has no NYRA_DEPS_$area in CMakeLists.txt"; bad=1; continue; }
    case ${allowed[$area]} in *" $target "*) ;; *)
        echo "$file:$line: includes $target/, above the $area layer"; bad=1 ;;
    esac
done < <(grep -rnoE '^#include "[a-z]+/' src --include='*.h' --include='*.cpp' |
         sed -E 's/#include "([a-z]+)\/$/\1/')
[ $bad -eq 0 ] && echo "layers: every include points down"
exit $bad
