#!/usr/bin/env bash
# Raw carving of a 1 GiB image with files scattered over random filler:
#   - `dravolin carve --types all` against `cat IMAGE > /dev/null` (target: at most 1.3x), also
#     with the image evicted from the page cache before each run;
#   - `dravolin carve` for JPEG, PNG, PDF, ZIP and BMP against foremost (quick mode:
#     headers at 512-byte boundaries, as the others look for them) and photorec,
#     for the same five types (target: faster than both).
# Same run, same image (kept in the page cache), every tool writing its files to
# a new folder of its own in memory (/dev/shm when it is there, so that the
# state of the disk's file system, slow to allocate inodes for a while after
# many files were deleted, weighs on no tool). Each is timed five times,
# alternating; the best times are compared.
# Usage: bench/bench_carve.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: bench_carve.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
dravolin="$build/src/cli/dravolin"
[[ -x "$dravolin" ]] || { echo "bench_carve: $dravolin not built (cmake --preset release && cmake --build --preset release)" >&2; exit 1; }
for tool in foremost photorec python3 cjpeg bc; do
  command -v "$tool" >/dev/null || { echo "bench_carve: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done
generator="$root/tests/fixtures/carving_image.py"
work="$root/build/bench"
image="$work/carve-1g.img"
out="$work/carve-out"
if [[ -d /dev/shm && -w /dev/shm ]] &&
   (( $(df --output=avail -B1 /dev/shm | tail -1) > 1024 * 1024 * 1024 )); then
  out=$(mktemp -d /dev/shm/dravolin-carve-bench.XXXXXX)
fi
mkdir -p "$work"
rm -rf "$work/carve-out"
mkdir -p "$out"
trap 'rm -rf "$out"' EXIT

# The image (1 GiB) is kept between runs while its generator is unchanged;
# the carved files of all runs take a few hundred MB until the end.
stamp=$(sha256sum "$generator" | cut -d' ' -f1)
[[ -f "$image" && "$(cat "$image.stamp" 2>/dev/null)" == "$stamp" ]] || rm -f "$image"
need=$((600 * 1024 * 1024))
[[ "$out" == /dev/shm/* ]] && need=0
[[ -f "$image" ]] || need=$((need + 1100 * 1024 * 1024))
avail=$(df --output=avail -B1 "$work" | tail -1)
if (( avail < need )); then
  echo "bench_carve: needs about $((need / 1048576)) MB free in $work (has $((avail / 1048576)) MB)" >&2
  exit 1
fi
if [[ ! -f "$image" ]]; then
  echo "bench_carve: building $image (about a minute)"
  python3 "$generator" bench "$image.tmp" 1024
  mv "$image.tmp" "$image"
  echo "$stamp" > "$image.stamp"
fi
cat "$image" > /dev/null  # warm the page cache for every reader

now() { date +%s.%N; }
declare -A best
keep() {  # name seconds
  if [[ -z "${best[$1]:-}" ]] || (( $(echo "$2 < ${best[$1]}" | bc -l) )); then best[$1]=$2; fi
}
time_it() {  # name command...
  local name=$1
  shift
  sync
  local t0 t1
  t0=$(now)
  "$@"
  t1=$(now)
  keep "$name" "$(echo "$t1 - $t0" | bc -l)"
}
carve() {  # types folder
  "$dravolin" carve "$image" --whole-disk --types "$1" --to "$2" --quiet --json \
    --config "$out/dravolin.ini" --log-dir "$out/logs" > "$2.json"
}
photorec_run() {  # folder
  mkdir -p "$1"
  (cd "$1" && photorec /log /d "$1/recup" /cmd "$image" \
    partition_none,fileopt,everything,disable,jpg,enable,png,enable,pdf,enable,zip,enable,bmp,enable,search \
    > /dev/null 2>&1 < /dev/null)
}

foremost_run() {  # folder
  foremost -Q -q -t jpg,png,pdf,zip,bmp -i "$image" -o "$1" > /dev/null 2>&1
}

# Every run writes into folders of its own, all removed at the end: files
# deleted just before others are created make the file system's inode
# allocation slow, for whichever tool comes next.
five=jpeg,png,pdf,zip,bmp
for run in 1 2 3 4 5; do
  r="$out/run$run"
  mkdir -p "$r"
  time_it cat sh -c "cat '$image' > /dev/null"
  time_it carve_all carve all "$r/all"
  time_it carve_five carve "$five" "$r/five"
  time_it foremost foremost_run "$r/foremost"
  time_it photorec photorec_run "$r/photorec"
done
# Cold cache: the image is read from the disk by both.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
t_cat_cold=$(cold_best_of 2 "$image" cat "$image")
cold_runs=0
carve_cold() { cold_runs=$((cold_runs + 1)); carve all "$out/cold$cold_runs"; }
t_carve_cold=$(cold_best_of 2 "$image" carve_cold)
found_all=$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['files_found'])" "$out/run1/all.json")
found_five=$(python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['files_found'])" "$out/run1/five.json")
found_foremost=$(find "$out/run1/foremost" -type f ! -name audit.txt | wc -l)
found_photorec=$(find "$out/run1/photorec" -type f ! -name photorec.log | wc -l)

echo "carved files written to $out"
python3 - "${best[cat]}" "${best[carve_all]}" "${best[carve_five]}" "${best[foremost]}" "${best[photorec]}" \
  "$found_all" "$found_five" "$found_foremost" "$found_photorec" <<'PY'
import sys
cat, carve_all, carve_five, foremost, photorec = map(float, sys.argv[1:6])
found_all, found_five, found_foremost, found_photorec = sys.argv[6:10]
ms = lambda s: f"{s * 1000:.0f} ms"
print(f"cat IMAGE > /dev/null:          {ms(cat)}")
print(f"dravolin carve, all types:      {ms(carve_all)}  ({found_all} files)   ratio to cat: {carve_all / cat:.2f}x (target <= 1.3x) {'ok' if carve_all / cat <= 1.3 else 'ABOVE TARGET'}")
print(f"dravolin carve, 5 types:        {ms(carve_five)}  ({found_five} files)")
print(f"foremost -q, 5 types:           {ms(foremost)}  ({found_foremost} files)   dravolin/foremost: {carve_five / foremost:.2f}x (target < 1)")
print(f"photorec, 5 types:              {ms(photorec)}  ({found_photorec} files)   dravolin/photorec: {carve_five / photorec:.2f}x (target < 1)")
PY
cold_line "carve, all types" "$t_carve_cold" "$t_cat_cold"
