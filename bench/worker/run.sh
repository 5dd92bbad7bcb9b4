#!/usr/bin/env bash
# Runs the record worker benchmark from a build tree (default: <repo>/build).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
exec "$build/bench/worker/bench_worker"
