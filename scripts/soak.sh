#!/usr/bin/env bash
# Long runs, not part of CI.
#   scripts/soak.sh [seconds] [tlv_soak options]  the panel stores 20 products per second while a
#       report re-queries the last 30 days every 5 seconds (default one hour); prints products
#       stored, inserts failed, the worst insert and memory at start and end.
#   scripts/soak.sh lifecycle  the report dialog opened, queried and destroyed 500 times (a third
#       mid-query on 100,000 rows) and its defect chart refreshed 10,000 times.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" > /dev/null
export QT_QPA_PLATFORM=offscreen
if [ "${1:-}" = "lifecycle" ]; then
    TLV_DIALOGS=500 TLV_REFRESHES=10000 QTEST_FUNCTION_TIMEOUT=86400000 \
        exec "$root/build/tests/tst_reliability_report"
fi
seconds="${1:-3600}"
shift || true
exec "$root/build/bench/soak/tlv_soak" --seconds "$seconds" --rate 20 --requery 5 "$@"
