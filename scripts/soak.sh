#!/usr/bin/env bash
# Soak run (not part of CI): the panel stores 20 products per second while a report re-queries
# the last 30 days every 5 seconds, for the given duration (default one hour).
# Usage: scripts/soak.sh [seconds] [extra tlv_soak options, e.g. --rate 20 --requery 5 --dir DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-3600}"
shift || true
"$root/scripts/build.sh" > /dev/null
exec "$root/build/bench/soak/tlv_soak" --seconds "$seconds" --rate 20 --requery 5 "$@"
