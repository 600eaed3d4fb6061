#!/usr/bin/env bash
# The search for lost partitions against `cat` on one 4 GiB disk image: random
# bytes with four copies of the fixture disk mbr.img whose partition tables
# were wiped (tests/fixtures/damaged/mbr-lost-tables.sh), at 0, 1, 2 and 3
# GiB: sixteen FAT16, FAT32 and NTFS volumes to find. Built once and cached
# in build/bench. Reports, in one run:
#   lost-partition scan   `dravolin lost IMAGE` (FAT and NTFS)  vs `cat IMAGE`   (target <= 1.3x),
#                         also with the image evicted from the page cache before each run
#   its peak memory (/usr/bin/time -v)
# Each timing is the best of three runs with the image in the page cache.
# Usage: bench/bench_lost.sh BUILD_DIR   (a release build: BUILD_DIR/src/cli/dravolin)
set -euo pipefail
build=${1:?usage: bench_lost.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
dravolin="$build/src/cli/dravolin"
[[ -x "$dravolin" ]] || { echo "bench_lost: $dravolin not built (cmake --preset release && cmake --build --preset release)" >&2; exit 1; }
for tool in mmls python3 bc /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench_lost: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done
fixtures="$root/build/fixtures"
[[ -f "$fixtures/mbr.img" ]] || { echo "bench_lost: $fixtures/mbr.img missing (make fixtures)" >&2; exit 1; }

work="$root/build/bench"
image="$work/lost-4g.img"
stamp="$image.stamp"
home="$work/lost-home"
readonly IMAGE_GIB=4 COPIES=4
recipe="v1 $IMAGE_GIB $COPIES $(sha256sum "$root/tests/fixtures/damaged/mbr-lost-tables.sh" | cut -d' ' -f1)"

mkdir -p "$work"
rm -rf "$home"
mkdir -p "$home"
trap 'rm -rf "$image.tmp" "$work/lost-parts"' EXIT

need=0
[[ -f "$image" && "$(cat "$stamp" 2>/dev/null)" == "$recipe" ]] || need=$(((IMAGE_GIB * 1024 + 300) * 1024 * 1024))
avail=$(df --output=avail -B1 "$work" | tail -1)
echo "bench_lost: needs about $((need / 1048576)) MB free in $work (has $((avail / 1048576)) MB)"
if (( avail < need )); then
  echo "bench_lost: not enough free space" >&2
  exit 1
fi

if [[ ! -f "$image" || "$(cat "$stamp" 2>/dev/null)" != "$recipe" ]]; then
  echo "bench_lost: building $image (once)"
  rm -rf "$work/lost-parts" "$image"
  mkdir -p "$work/lost-parts"
  bash "$root/tests/fixtures/damaged/mbr-lost-tables.sh" "$fixtures" "$work/lost-parts"
  # Random bytes everywhere (no sparse holes: every sector is read from the
  # page cache as it would be from a disk), then the copies.
  python3 - "$image.tmp" "$IMAGE_GIB" <<'PY'
import random, sys
rng = random.Random(2026)
block = rng.randbytes(1 << 24)
with open(sys.argv[1], "wb") as out:
    for i in range(int(sys.argv[2]) * 64):
        out.write(block[i % 7 * 4096:] + block[:i % 7 * 4096])
PY
  for ((i = 0; i < COPIES; i++)); do
    dd if="$work/lost-parts/mbr-lost-tables.img" of="$image.tmp" bs=1M seek=$((i * 1024)) conv=notrunc status=none
  done
  rm -rf "$work/lost-parts"
  mv "$image.tmp" "$image"
  echo "$recipe" > "$stamp"
fi

options=(--config "$home/dravolin.ini" --log-dir "$home/logs" --quiet)
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
peak_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p'
}

cat "$image" > /dev/null
t_cat=$(best_of 3 cat "$image")
t_lost=$(best_of 3 "$dravolin" lost "$image" "${options[@]}")
peak_lost=$(peak_kb "$dravolin" lost "$image" "${options[@]}")
# Cold cache: the image is read from the disk by both.
t_cat_cold=$(cold_best_of 2 "$image" cat "$image")
t_lost_cold=$(cold_best_of 2 "$image" "$dravolin" lost "$image" "${options[@]}")
found=$("$dravolin" lost "$image" --json "${options[@]}" | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["file_systems"]))')

python3 - "$t_lost" "$t_cat" "$peak_lost" "$found" "$((COPIES * 4))" <<'PY'
import sys
lost, cat = float(sys.argv[1]), float(sys.argv[2])
peak, found, expected = int(sys.argv[3]) / 1024, int(sys.argv[4]), int(sys.argv[5])
ratio = lost / cat
print(f"file systems found: {found} (the image holds {expected}) {'ok' if found == expected else 'WRONG'}")
print(f"{'lost-partition scan':<24} {lost * 1000:8.0f} ms   {'cat IMAGE':<16} {cat * 1000:8.0f} ms   "
      f"ratio {ratio:5.2f}x (target <= 1.3x) {'ok' if ratio <= 1.3 else 'ABOVE TARGET'}")
print(f"peak memory: lost-partition scan {peak:.1f} MB (target < 200 MB) {'ok' if peak < 200 else 'ABOVE TARGET'}")
PY
cold_line "lost-partition scan" "$t_lost_cold" "$t_cat_cold"
