#!/usr/bin/env bash
# Configures and builds one preset of CMakePresets.json: release (build/) by default, or the one
# TLV_PRESET names: ci (build/, warnings as errors), asan (build-asan/), tsan (build-tsan/, the
# worker and report dialog tests only). TLV_SANITIZE=1 still means asan.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs="$(nproc 2>/dev/null || echo 2)"
preset="${TLV_PRESET:-release}"
if [ "${TLV_SANITIZE:-0}" = "1" ]; then
    preset=asan
fi
cmake --preset "$preset" -S "$root"
cmake --build --preset "$preset" -j "$jobs"
