#!/usr/bin/env bash
# Fails when a source file includes a header of a folder above its own. The layer order is the
# one the top CMakeLists.txt declares (NYRA_DEPS_<folder>: the folders a folder may use), read
# from there so it is written down once. resources/ holds only resource ids, usable by all.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
declare -A allowed
while read -r area deps; do
    allowed[$area]=" $area resources ${deps//;/ } "
done < <(sed -n 's/^set(NYRA_DEPS_\([a-z]*\) *"\([a-z;]*\)")$/\1 \2/p' "$root/CMakeLists.txt")

bad=0
cd "$root"
while IFS=: read -r file line target; do
    area=${file#src/}; area=${area%%/*}
    [ -n "${allowed[$area]+x}" ] || { echo "$file: folder '$area' has no NYRA_DEPS_$area in CMakeLists.txt"; bad=1; continue; }
    case ${allowed[$area]} in *" $target "*) ;; *)
        echo "$file:$line: includes $target/, above the $area layer"; bad=1 ;;
    esac
done < <(grep -rnoE '^#include "[a-z]+/' src --include='*.h' --include='*.cpp' |
         sed -E 's/#include "([a-z]+)\/$/\1/')
[ $bad -eq 0 ] && echo "layers: every include points down"
exit $bad
