#!/usr/bin/env bash
# ReadSector over a 1 GiB image against `cat IMAGE > /dev/null`, same run.
set -euo pipefail
build=${1:?usage: bench_read.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
image="$root/build/bench/read-1g.img"
need=$((1100 * 1024 * 1024))
mkdir -p "$(dirname "$image")"
if [[ ! -f "$image" ]]; then
  avail=$(df --output=avail -B1 "$(dirname "$image")" | tail -1)
  if (( avail < need )); then
    echo "bench_read: needs about 1.1 GB free in $(dirname "$image") (has $((avail / 1048576)) MB)" >&2
    exit 1
  fi
  # Random data, so nothing in the path can shortcut zero pages.
  head -c $((1024 * 1024 * 1024)) /dev/urandom > "$image.tmp" && mv "$image.tmp" "$image"
fi
cat "$image" > /dev/null  # warm the page cache for both readers
json=$(DRAVOLIN_BENCH_IMAGE="$image" "$build/bench/read_sector_bench" --benchmark_format=json 2>/dev/null)
python3 - "$json" <<'PY'
import json, sys
runs = {b["name"].split("/")[0]: b["real_time"] for b in json.loads(sys.argv[1])["benchmarks"]}
cat, ours = runs["BM_Cat"], runs["BM_ReadSector"]
print(f"cat: {cat:.0f} ms   ReadSector: {ours:.0f} ms   ratio: {ours / cat:.2f}x (target <= 1.2x)")
PY
