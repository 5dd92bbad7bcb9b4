#!/usr/bin/env bash
# Builds the release tree and runs every benchmark, each printing ratios against its baseline.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
for bench in "$root"/build/bench/*/bench_*; do
    # Skips the build's own folders (bench_export_autogen) and anything else not a program.
    [ -f "$bench" ] && [ -x "$bench" ] || continue
    echo "== $(basename "$bench")"
    "$bench"
    echo
done
