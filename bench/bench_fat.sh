#!/usr/bin/env bash
# FAT recovery against The Sleuth Kit on one FAT32 image of 1.5 GiB holding
# 100,000 files in 2,040 folders (5,000 of the files deleted), built once with
# mkfs.fat and mtools and cached in build/bench. Reports, in one run:
#   directory tree search  `dravolin scan`              vs `fls -r -p`          (target <= 0.5x)
#   exhaustive search      `dravolin scan --exhaustive` vs `cat IMAGE`          (target <= 1.3x),
#                          also with the image evicted from the page cache before each run
#   recovering every file  `dravolin recover --all`     vs `tsk_recover -e`     (target <= 1.0x)
#   peak memory of each of the three (/usr/bin/time -v; target < 200 MB)
# Each timing is the best of three runs (two for the recoveries, which write
# every file) with the image in the page cache; each comparison runs both
# tools on the same image in the same run.
# Usage: bench/bench_fat.sh BUILD_DIR   (a release build: BUILD_DIR/src/cli/dravolin)
set -euo pipefail
build=${1:?usage: bench_fat.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
dravolin="$build/src/cli/dravolin"
[[ -x "$dravolin" ]] || { echo "bench_fat: $dravolin not built (cmake --preset release && cmake --build --preset release)" >&2; exit 1; }
for tool in mkfs.fat mcopy mdel fls tsk_recover python3 bc /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench_fat: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done

work="$root/build/bench"
image="$work/fat32-100k.img"
stamp="$image.stamp"
out="$work/fat-out"
home="$work/fat-home"
readonly IMAGE_MIB=1536 FOLDERS_TOP=40 FOLDERS_EACH=50 FILES_EACH=50 DELETE_EVERY=20
recipe="v1 $IMAGE_MIB $FOLDERS_TOP $FOLDERS_EACH $FILES_EACH $DELETE_EVERY"

mkdir -p "$work"
rm -rf "$out" "$home"
mkdir -p "$out" "$home"
trap 'rm -rf "$out"' EXIT

# Room: the recovered files of both tools (about 0.7 GB each), and on the
# first run the image and the staged files it is made from.
need=$((1600 * 1024 * 1024))
[[ -f "$image" && "$(cat "$stamp" 2>/dev/null)" == "$recipe" ]] || need=$((need + (IMAGE_MIB + 800) * 1024 * 1024))
avail=$(df --output=avail -B1 "$work" | tail -1)
echo "bench_fat: needs about $((need / 1048576)) MB free in $work (has $((avail / 1048576)) MB)"
if (( avail < need )); then
  echo "bench_fat: not enough free space" >&2
  exit 1
fi

source "$(dirname "${BASH_SOURCE[0]}")/images.sh"
if ! fat_image_ready "$image" "$recipe"; then
  echo "bench_fat: building $image (once; takes a few minutes)"
  build_fat_image "$image" "$IMAGE_MIB" "$FOLDERS_TOP" "$FOLDERS_EACH" "$FILES_EACH" "$DELETE_EVERY"
  echo "$recipe" > "$stamp"
fi

options=(--config "$home/dravolin.ini" --log-dir "$home/logs" --quiet)
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
recover_ours() { rm -rf "$out/ours"; sync; "$dravolin" recover "$image" --all --to "$out/ours" --on-exists replace "${options[@]}"; }
recover_tsk() { rm -rf "$out/tsk"; sync; tsk_recover -e "$image" "$out/tsk"; }

cat "$image" > /dev/null  # the page cache holds the image for every reader
t_cat=$(best_of 3 cat "$image")
t_fls=$(best_of 3 fls -r -p "$image")
t_scan=$(best_of 3 "$dravolin" scan "$image" "${options[@]}")
t_exhaustive=$(best_of 3 "$dravolin" scan "$image" --exhaustive "${options[@]}")
t_tsk=$(best_of 2 recover_tsk)
t_recover=$(best_of 2 recover_ours)

# peak_kb COMMAND...: the largest resident size of COMMAND, in KiB.
peak_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p'
}
peak_scan=$(peak_kb "$dravolin" scan "$image" "${options[@]}")
peak_exhaustive=$(peak_kb "$dravolin" scan "$image" --exhaustive "${options[@]}")
rm -rf "$out/ours"
peak_recover=$(peak_kb "$dravolin" recover "$image" --all --to "$out/ours" --on-exists replace "${options[@]}")
listed=$("$dravolin" scan "$image" "${options[@]}" | tail -1)
# Cold cache: the image is read from the disk by both.
t_cat_cold=$(cold_best_of 2 "$image" cat "$image")
t_exhaustive_cold=$(cold_best_of 2 "$image" "$dravolin" scan "$image" --exhaustive "${options[@]}")
cat "$image" > /dev/null
ours_files=$(find "$out/ours" -type f | wc -l)
tsk_files=$(find "$out/tsk" -type f | wc -l)
rm -rf "$out/ours" "$out/tsk"

python3 - "$t_fls" "$t_scan" "$t_cat" "$t_exhaustive" "$t_tsk" "$t_recover" "$peak_scan" "$peak_exhaustive" \
  "$peak_recover" "$ours_files" "$tsk_files" "$listed" <<'PY'
import sys
fls, scan, cat, exhaustive, tsk, recover = map(float, sys.argv[1:7])
peaks = [int(v) / 1024 for v in sys.argv[7:10]]
ours_files, tsk_files, listed = int(sys.argv[10]), int(sys.argv[11]), sys.argv[12]
def line(what, ours, peer, peer_name, target):
    ratio = ours / peer
    verdict = "ok" if ratio <= target else "ABOVE TARGET"
    print(f"{what:<24} {ours * 1000:8.0f} ms   {peer_name:<16} {peer * 1000:8.0f} ms   ratio {ratio:5.2f}x (target <= {target}x) {verdict}")
print(f"dravolin scan found: {listed}")
line("directory tree search", scan, fls, "fls -r -p", 0.5)
line("exhaustive search", exhaustive, cat, "cat IMAGE", 1.3)
line("recover every file", recover, tsk, "tsk_recover -e", 1.0)
print(f"files recovered: dravolin {ours_files}, tsk_recover {tsk_files}")
peak_mb = max(peaks)
print(f"peak memory: scan {peaks[0]:.1f} MB, exhaustive scan {peaks[1]:.1f} MB, recover {peaks[2]:.1f} MB; "
      f"highest {peak_mb:.1f} MB (target < 200 MB) {'ok' if peak_mb < 200 else 'ABOVE TARGET'}")
PY
cold_line "exhaustive search" "$t_exhaustive_cold" "$t_cat_cold"
