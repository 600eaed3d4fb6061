#!/usr/bin/env bash
# The FAT searches on a FAT32 image of about 100,000 files, same run:
# directory tree search against `fls -r -p` (target <= 0.5x) and exhaustive
# search against `cat IMAGE > /dev/null` (target <= 1.5x); peak memory of the
# searches (target < 200 MB).
set -euo pipefail
build=${1:?usage: bench_fat_search.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
image="$root/build/bench/fat-search-100k.img"
bench="$build/bench/fat_search_bench"
[[ -x "$bench" ]] || { echo "bench_fat_search: $bench not built" >&2; exit 1; }
command -v fls >/dev/null || { echo "bench_fat_search: fls (The Sleuth Kit) is needed" >&2; exit 1; }
bash "$root/bench/make-fat-bench-image.sh" "$image"
cat "$image" > /dev/null  # warm the page cache for every reader
json=$(DRAVOLIN_FAT_BENCH_IMAGE="$image" "$bench" --benchmark_format=json 2>/dev/null)
python3 - "$json" <<'PY'
import json, sys
runs = {b["name"].split("/")[0]: b for b in json.loads(sys.argv[1])["benchmarks"]}
t = lambda n: runs[n]["real_time"]
print(f"tree search: {t('BM_TreeSearch'):.0f} ms   fls -r -p: {t('BM_Fls'):.0f} ms   "
      f"ratio: {t('BM_TreeSearch') / t('BM_Fls'):.2f}x (target <= 0.5x)")
print(f"exhaustive search: {t('BM_ExhaustiveSearch'):.0f} ms   cat: {t('BM_Cat'):.0f} ms   "
      f"ratio: {t('BM_ExhaustiveSearch') / t('BM_Cat'):.2f}x (target <= 1.5x)")
peak = max(runs[n]["peak_MiB"] for n in ("BM_TreeSearch", "BM_ExhaustiveSearch"))
print(f"files found: {runs['BM_TreeSearch']['files']:.0f}   peak memory: {peak:.0f} MiB (target < 200 MB)")
PY
