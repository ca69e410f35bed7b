#!/usr/bin/env bash
# Fails when a C++ file changed on this branch (or, on main, in the last commit) or in the
# working tree is not laid out as .clang-format says. `clang-format -i FILE` fixes one.
set -euo pipefail
cd "$(dirname "$0")/.."
git rev-parse -q --verify HEAD >/dev/null 2>&1 || { echo "format: not a git checkout, not checked"; exit 0; }
base=HEAD~1
if git rev-parse -q --verify main >/dev/null && ! git merge-base --is-ancestor HEAD main; then
    base=$(git merge-base HEAD main)
fi
git rev-parse -q --verify "$base" >/dev/null || base=$(git hash-object -t tree /dev/null)
mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$base" -- '*.cpp' '*.h')
[ ${#files[@]} -eq 0 ] && { echo "format: no changed C++ file"; exit 0; }
clang-format --dry-run --Werror "${files[@]}" 2>&1 | head -40
[ "${PIPESTATUS[0]}" -eq 0 ] && echo "format: ${#files[@]} changed file(s) laid out as .clang-format says"
