#!/usr/bin/env bash
# Opens every page and dialog of the wizard on the demo disk under Xvfb and
# saves a PNG of each into docs/screenshots/.
#
#   tests/screenshots.sh [BUILD_DIR]     (default build/debug)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/debug}"
command -v xvfb-run >/dev/null || { echo "screenshots.sh: xvfb-run is missing (Debian package xvfb)" >&2; exit 1; }
bash "$root/tests/fixtures/build-images.sh" "$root/build/fixtures" >/dev/null
bash "$root/tests/fixtures/build-carving-image.sh" "$root/build/fixtures/carving" >/dev/null
cmake --build "$build" --target dravolin_wizard_screenshots >/dev/null
out="$root/docs/screenshots"
mkdir -p "$out"
rm -f "$out"/*.png
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x900x24" \
  "$build/tests/gui/dravolin_wizard_screenshots" "$out"
ls "$out"
