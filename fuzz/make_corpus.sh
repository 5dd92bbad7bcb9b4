#!/usr/bin/env bash
# Refreshes the seed corpus from rows the panel really writes (through tests/tlv_writer) plus a
# few hand-made columns for the shapes the panel never writes itself (defect names, nulls).
# Usage: fuzz/make_corpus.sh <build dir holding tests/tlv_writer>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?build directory}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/DectDB" "$here/corpus"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" "$build/tests/tlv_writer" --base "$work" --count 8 > /dev/null
sqlite3 "$work/DectDB/TLV.db" "select diameter from product_data_new union select appearance from product_data_new" |
while IFS= read -r column; do
    printf '%s' "$column" > "$work/seed"
    cp "$work/seed" "$here/corpus/row-$(sha1sum < "$work/seed" | cut -c1-12)"
done
printf '%s' '[{"idx":0,"ngtypes":["划痕","缺角"],"position":12.5,"status":false},{"idx":1,"ngtypes":[],"position":0,"status":true}]' > "$here/corpus/ape-ngtypes"
printf '%s' '[{"idx":0,"position":null,"status":false,"value":null}]' > "$here/corpus/hole-nonfinite"
printf '%s' '[{"idx":3,"position":5.300000190734863,"status":true,"value":1e-05},{"idx":"x","status":1,"value":2}]' > "$here/corpus/hole-mixed"
printf '%s' '[{"idx":0,"ngtypes":["\ud800",7],"position":-0.0,"status":true}]' > "$here/corpus/ape-escapes"
