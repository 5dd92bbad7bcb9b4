#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over the plugin's own sources (not the
# generated moc and uic code), on the compile commands of a configured build (build/ by default).
# Any finding fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
if [ ! -f "$build/compile_commands.json" ]; then
    echo "tidy: no $build/compile_commands.json; configure the build first (scripts/build.sh)" >&2
    exit 2
fi
mapfile -t files < <(cd "$root" && git ls-files 'Plugins/Widgets/Custom_TALVORIN/*.cpp' | sed "s|^|$root/|")
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! run-clang-tidy -quiet -p "$build" -j "$(nproc 2>/dev/null || echo 2)" "${files[@]}" >"$log" 2>&1 \
    || grep -q -E '(warning|error):' "$log"; then
    grep -E '(warning|error):' "$log" | sort -u >&2 || cat "$log" >&2
    echo "tidy: findings above (see .clang-tidy)" >&2
    exit 1
fi
echo "tidy: ${#files[@]} files clean"
