#!/usr/bin/env bash
# Configures and builds into build/ (release) or, with TLV_SANITIZE=1, build-asan/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs="$(nproc 2>/dev/null || echo 2)"

if [ "${TLV_SANITIZE:-0}" = "1" ]; then
    build="$root/build-asan"
    cmake --preset asan -S "$root"
else
    build="$root/build"
    cmake --preset release -S "$root"
fi
cmake --build "$build" -j "$jobs"
