#!/usr/bin/env bash
# Memory of the wizard's name search: "*" over a result browser of 100,000
# files (made in memory), run in the Search File(s) window offscreen as the
# browser opens it, then the window closed. Two rounds (the first also pays
# for what Qt sets up once). Targets: at most 200 bytes of heap per hit while
# the hits are listed, and after the second round's window closed less than
# a byte per hit kept, of heap and of resident memory.
# DRAVOLIN_BENCH_SEARCH_FILES sets the number of files (default 100000).
# Usage: bench/bench_name_search.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: bench_name_search.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
program="$build/bench/name_search_memory"
if [[ ! -x "$program" ]]; then
  echo "bench_name_search: $program not built (it is built with the wizard, when Qt 6 is installed)" >&2
  exit 1
fi
files=${DRAVOLIN_BENCH_SEARCH_FILES:-100000}
out=$(QT_QPA_PLATFORM=offscreen DRAVOLIN_DATA_DIR="$root/data" "$program" "$files" 2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2))
echo "$out" | grep -v -E '^(bytes_per_hit|heap_kept_after_close|resident_kept_after_close|hits) '
python3 - "$out" <<'PY'
import sys
values = {}
for line in sys.argv[1].splitlines():
    key, _, value = line.partition(" ")
    if key in ("bytes_per_hit", "heap_kept_after_close", "resident_kept_after_close", "hits"):
        values.setdefault(key, []).append(float(value))
worst = max(values["bytes_per_hit"])
hits = values["hits"][-1]
heap_kept = values["heap_kept_after_close"][-1] / hits
resident_kept = values["resident_kept_after_close"][-1] / hits
ok = worst <= 200 and heap_kept < 1 and resident_kept < 1
print(f"name search '*': {worst:.0f} bytes per hit (target <= 200); after closing "
      f"{heap_kept:.2f} bytes of heap and {resident_kept:.2f} bytes resident per hit kept (target < 1): "
      f"{'ok' if ok else 'OVER TARGET'}")
sys.exit(0 if ok else 1)
PY
