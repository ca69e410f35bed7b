#!/bin/sh
# The nyra-pipeline program itself: usage, bad input (status 2, one line, nothing written) and a
# small frame (size on standard output, output files of the expected lengths).
tool="$1"
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$tool" --help | grep -q -- '--frame FILE' || fail "--help"
head -c 18000 /dev/zero > "$dir/frame.raw"   # 100 x 90
head -c 1807 /dev/zero > "$dir/short.dat"

bad() {
  "$tool" "$@" --out "$dir/out.raw" > "$dir/stdout" 2> "$dir/stderr"
  [ $? -eq 2 ] || fail "status for: $*"
  [ "$(wc -l < "$dir/stderr")" -eq 1 ] || fail "one error line for: $*"
  [ ! -e "$dir/out.raw" ] || fail "output written for: $*"
}
bad --frame "$dir/frame.raw" --width 100 --height 91 --variant 1
bad --frame "$dir/missing.raw" --width 100 --height 90 --variant 1
bad --frame "$dir/frame.raw" --width 100 --height 90 --variant 5
bad --frame "$dir/frame.raw" --width 100 --height 90 --variant 1 --settings "$dir/short.dat"
bad --frame "$dir/frame.raw" --width 100 --height 90 --variant 1 --blob "$dir/frame.raw"
bad --frame "$dir/frame.raw" --width 100 --height 90 --variant 1 --cal "$dir/missing.CAL"
bad --frame "$dir/frame.raw" --width 100 --height 90 --variant 1 --bogus 1

out=$("$tool" --frame "$dir/frame.raw" --width 100 --height 90 --variant 1 --out "$dir/out.raw" \
      --dib "$dir/out.dib" --png "$dir/out.png" --repeat 3 2> /dev/null) || fail "small frame"
[ "$(echo "$out" | head -n 1)" = "100x90" ] || fail "size line: $out"
echo "$out" | grep -q '^pipeline_ms=[0-9.]*$' || fail "timing line: $out"
[ "$(wc -c < "$dir/out.raw")" -eq 18000 ] || fail "--out length"
[ "$(wc -c < "$dir/out.dib")" -eq 18040 ] || fail "--dib length"
head -c 4 "$dir/out.png" | grep -q PNG || fail "--png"
echo "nyra-pipeline CLI: ok"
