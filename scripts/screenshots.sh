#!/usr/bin/env bash
# Renders the images the README shows, under a virtual X server:
#   docs/panel.png   the host window with the panel in the middle of a measurement cycle
#   docs/report.png  the report dialog with a defective product clicked (pie and bar charts)
# Usage: scripts/screenshots.sh [build-dir]   (default: build)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
host="$build/StationHost/station_host"
if [[ ! -x "$host" ]]; then
    echo "station_host not built: $host (cmake --build $build --target station_host)" >&2
    exit 1
fi
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (apt-get install xvfb)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$root/docs" "$work/data"

# Entries an operator would have made, restored by the panel at start.
cat > "$work/data/station_host.json" <<'JSON'
{
    "Custom_TALVORIN": {
        "hckd": "12",
        "MaterialBarcode": "TLV-318-42",
        "OrderBarcode": "WO2405-017"
    }
}
JSON

# A week of history so the report has something to show, then a slow line for the panel shot.
# The host quits by itself once both images are saved.
cd "$work"
env -u QT_QPA_PLATFORM LANG=C.UTF-8 LC_ALL=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$host" --data "$work/data" --seed-demo 600 --seed-days 7 --seed 7 --rate 2 \
    --screenshot-panel "$root/docs/panel.png" --screenshot-report "$root/docs/report.png"

for image in "$root/docs/panel.png" "$root/docs/report.png"; do
    [[ -s "$image" ]] || { echo "missing $image" >&2; exit 1; }
done
echo "written: docs/panel.png docs/report.png"
