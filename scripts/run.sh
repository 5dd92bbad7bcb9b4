#!/usr/bin/env bash
# Installs what is missing, builds, and starts the station host on a simulated line.
# Without a display it runs offscreen for a fixed number of products and prints a summary.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
exec "$root/build/StationHost/station_host" --data "$root/station-data" "$@"
