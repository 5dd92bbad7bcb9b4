#!/usr/bin/env bash
# Formats the C++ sources with the committed .clang-format (clang-format 14, as Debian 12 ships).
#   scripts/format.sh          rewrite the files in place
#   scripts/format.sh --check  list the files that differ and fail when there are any
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
formatter="$(command -v clang-format-14 || command -v clang-format)"
mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.c')

if [ "${1:-}" = "--check" ]; then
    log="$(mktemp)"
    trap 'rm -f "$log"' EXIT
    if ! "$formatter" --dry-run -Werror "${files[@]}" 2>"$log"; then
        grep -o '^[^:]*:[0-9]*:[0-9]*: error' "$log" | cut -d: -f1 | sort -u | sed 's/^/needs formatting: /'
        echo "format: run scripts/format.sh to fix" >&2
        exit 1
    fi
    echo "format: ${#files[@]} files clean"
else
    "$formatter" -i "${files[@]}"
fi
