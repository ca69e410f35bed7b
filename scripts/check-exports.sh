#!/usr/bin/env bash
# Checks the export table of the built plug-in against the module definition file it was linked
# with (src/host/NyraPro.def, the one list of exports): the same names at the same ordinals,
# undecorated, and nothing else.
set -euo pipefail
dll=$1
want=$(dirname "$0")/../src/host/NyraPro.def
got=$(i686-w64-mingw32-objdump -p "$dll" | awk '
    /^\[Ordinal\/Name Pointer\] Table/ { in_table = 1; next }
    in_table && match($0, /\[ *[0-9]+\] +[^ ]+/) {
        entry = substr($0, RSTART + 1, RLENGTH - 1); split(entry, f, /\] +/)
        print f[2], f[1] + base; next }
    in_table && NF == 0 { in_table = 0 }
    /^Ordinal Base/ { base = $3 }' | sed 's/^ *//' | sort -k2 -n)
expected=$(sed -n 's/^[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\)[[:space:]]*@\([0-9][0-9]*\).*/\1 \2/p' "$want" | sort -k2 -n)
if [ "$got" != "$expected" ]; then
    echo "export table of $dll differs from $want:"
    diff <(echo "$expected") <(echo "$got") || true
    exit 1
fi
echo "exports: $(echo "$got" | wc -l) names at their ordinals, undecorated"
