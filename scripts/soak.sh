#!/usr/bin/env bash
# Long runs, not part of CI.
#   scripts/soak.sh [seconds] [tlv_soak options]  the panel stores 20 products per second while a
#       report re-queries the last 30 days every 5 seconds (default one hour); prints products
#       stored, inserts failed, the worst insert and memory at start and end.
#   scripts/soak.sh kills [N]  the killed-writer series of the suite, N kills (default 500)
#       instead of the suite's 30: every product a killed writer reported stored is in the file.
# The report's memory after closing and its close latency are printed by bench_report.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" > /dev/null
export QT_QPA_PLATFORM=offscreen
if [ "${1:-}" = "kills" ]; then
    TLV_KILLS="${2:-500}" exec "$root/build/tests/tst_reliability_kill"
fi
seconds="${1:-3600}"
shift || true
exec "$root/build/bench/soak/tlv_soak" --seconds "$seconds" --rate 20 --requery 5 "$@"
