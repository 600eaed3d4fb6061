#!/usr/bin/env bash
# NTFS recovery against The Sleuth Kit on one NTFS image of 1.5 GiB holding
# 100,000 files in 2,040 folders (5,000 of the files deleted), built once with
# mkntfs and files written through ntfs-3g (FUSE), and cached in build/bench
# with a count file (ntfs-100k.img.counts). Reports, in one run:
#   MFT walk               `dravolin scan`              vs `fls -r -p`          (target <= 0.5x)
#   MFT and index scan     `dravolin scan --exhaustive` vs `cat IMAGE`          (target <= 1.3x),
#                          also with the image evicted from the page cache before each run
#   recovering every file  `dravolin recover --all`     vs `tsk_recover -e`     (target <= 1.0x)
#   peak memory of each of the three (/usr/bin/time -v; target < 200 MB)
# Each timing is the best of three runs (two for the recoveries, which write
# every file) with the image in the page cache; each comparison runs both
# tools on the same image in the same run. When the dravolin binary is not
# built, or cannot read NTFS, only the peers' figures are printed; when its
# exhaustive scan lists nothing (a build without the sector scan), that line
# says so instead of giving a ratio.
# Building the image needs root and /dev/fuse (ntfs-3g), once.
# Usage: bench/bench_ntfs.sh BUILD_DIR   (a release build: BUILD_DIR/src/cli/dravolin)
set -euo pipefail
build=${1:?usage: bench_ntfs.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
dravolin="$build/src/cli/dravolin"
for tool in fls tsk_recover python3 bc /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench_ntfs: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done

work="$root/build/bench"
image="$work/ntfs-100k.img"
stamp="$image.stamp"
counts="$image.counts"
out="$work/ntfs-out"
home="$work/ntfs-home"
readonly IMAGE_MIB=1536 FOLDERS_TOP=40 FOLDERS_EACH=50 FILES_EACH=50 DELETE_EVERY=20
recipe="v1 $IMAGE_MIB $FOLDERS_TOP $FOLDERS_EACH $FILES_EACH $DELETE_EVERY"

mkdir -p "$work"
rm -rf "$out" "$home"
mkdir -p "$out" "$home"
trap 'rm -rf "$out"' EXIT

# Room: the recovered files of both tools (about 0.7 GB each), and on the
# first run the image.
need=$((1600 * 1024 * 1024))
[[ -f "$image" && -f "$counts" && "$(cat "$stamp" 2>/dev/null)" == "$recipe" ]] || need=$((need + IMAGE_MIB * 1024 * 1024))
avail=$(df --output=avail -B1 "$work" | tail -1)
echo "bench_ntfs: needs about $((need / 1048576)) MB free in $work (has $((avail / 1048576)) MB)"
if (( avail < need )); then
  echo "bench_ntfs: not enough free space" >&2
  exit 1
fi

source "$(dirname "${BASH_SOURCE[0]}")/images.sh"
if ! ntfs_image_ready "$image" "$recipe"; then
  for tool in mkntfs ntfs-3g mountpoint; do
    command -v "$tool" >/dev/null || { echo "bench_ntfs: $tool is missing (scripts/install-deps)" >&2; exit 1; }
  done
  [[ $EUID -eq 0 && -c /dev/fuse ]] ||
    { echo "bench_ntfs: building the image needs root and /dev/fuse (ntfs-3g)" >&2; exit 1; }
  echo "bench_ntfs: building $image (once; takes several minutes)"
  build_ntfs_image "$image" "$IMAGE_MIB" "$FOLDERS_TOP" "$FOLDERS_EACH" "$FILES_EACH" "$DELETE_EVERY"
  echo "$recipe" > "$stamp"
fi
echo "bench_ntfs: $(tr '\t\n' '= ' <"$counts")"

options=(--config "$home/dravolin.ini" --log-dir "$home/logs" --quiet)
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# peak_kb COMMAND...: the largest resident size of COMMAND, in KiB.
# COMMAND must be a program: /usr/bin/time cannot run a shell function.
peak_kb() {
  /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' || true
}
recover_ours() { rm -rf "$out/ours"; sync; "$dravolin" recover "$image" --all --to "$out/ours" --on-exists replace "${options[@]}"; }
recover_tsk() { rm -rf "$out/tsk"; sync; tsk_recover -e "$image" "$out/tsk"; }

cat "$image" > /dev/null  # the page cache holds the image for every reader
t_cat=$(best_of 3 cat "$image")
t_fls=$(best_of 3 fls -r -p "$image")
t_tsk=$(best_of 2 recover_tsk)
peak_fls=$(peak_kb fls -r -p "$image")
rm -rf "$out/tsk"
peak_tsk=$(peak_kb tsk_recover -e "$image" "$out/tsk")
tsk_files=$(find "$out/tsk" -type f | wc -l)
fls_entries=$(fls -r -p "$image" | wc -l)

# The MFT and index scan through the library (bench/ntfs_scan_bench, no
# command line needed): its time against cat IMAGE in the same run, what it
# found and its peak memory.
scan_bench="$build/bench/ntfs_scan_bench"
if [[ -x "$scan_bench" ]]; then
  json=$(DRAVOLIN_BENCH_IMAGE="$image" "$scan_bench" --benchmark_format=json 2>/dev/null)
  python3 - "$json" <<'PY'
import json, sys
runs = {b["name"].split("/")[0]: b for b in json.loads(sys.argv[1])["benchmarks"]}
cat, scan = runs["BM_Cat"]["real_time"], runs["BM_NtfsScan"]
ratio = scan["real_time"] / cat
print(f"MFT and index scan (library) {scan['real_time']:.0f} ms   cat IMAGE {cat:.0f} ms   ratio {ratio:.2f}x "
      f"(target <= 1.3x) {'ok' if ratio <= 1.3 else 'ABOVE TARGET'}; found {int(scan['folders'])} folders, "
      f"{int(scan['files'])} files; peak memory {scan['peak_rss_mb']:.1f} MB (target < 200 MB)")
PY
fi

# Does this dravolin read NTFS?
ours=""
if [[ ! -x "$dravolin" ]]; then
  echo "bench_ntfs: $dravolin not built (cmake --preset release && cmake --build --preset release); peers only"
else
  probe=$("$dravolin" scan "$image" "${options[@]}" 2>&1 | tail -n 3) && ours=1 || true
  if [[ -z "$ours" ]]; then
    echo "bench_ntfs: the dravolin NTFS commands are not available (dravolin says: ${probe//$'\n'/ }); peers only"
  fi
fi

if [[ -n "$ours" ]]; then
  t_scan=$(best_of 3 "$dravolin" scan "$image" "${options[@]}")
  t_exhaustive=$(best_of 3 "$dravolin" scan "$image" --exhaustive "${options[@]}")
  t_recover=$(best_of 2 recover_ours)
  peak_scan=$(peak_kb "$dravolin" scan "$image" "${options[@]}")
  peak_exhaustive=$(peak_kb "$dravolin" scan "$image" --exhaustive "${options[@]}")
  rm -rf "$out/ours"
  peak_recover=$(peak_kb "$dravolin" recover "$image" --all --to "$out/ours" --on-exists replace "${options[@]}")
  listed=$("$dravolin" scan "$image" "${options[@]}" | tail -1)
  listed_exhaustive=$("$dravolin" scan "$image" --exhaustive "${options[@]}" | tail -1)
  # Cold cache: the image is read from the disk by both.
  t_cat_cold=$(cold_best_of 2 "$image" cat "$image")
  t_exhaustive_cold=$(cold_best_of 2 "$image" "$dravolin" scan "$image" --exhaustive "${options[@]}")
  cat "$image" > /dev/null
  ours_files=$(find "$out/ours" -type f | wc -l)
else
  t_scan=0 t_exhaustive=0 t_recover=0 peak_scan=0 peak_exhaustive=0 peak_recover=0 listed="" ours_files=0
  listed_exhaustive=""
fi
rm -rf "$out/ours" "$out/tsk"

python3 - "$t_fls" "$t_scan" "$t_cat" "$t_exhaustive" "$t_tsk" "$t_recover" "$peak_scan" "$peak_exhaustive" \
  "$peak_recover" "$ours_files" "$tsk_files" "$listed" "$peak_fls" "$peak_tsk" "$fls_entries" "${ours:-0}" \
  "$listed_exhaustive" <<'PY'
import sys
fls, scan, cat, exhaustive, tsk, recover = map(float, sys.argv[1:7])
peaks = [int(v) / 1024 for v in sys.argv[7:10]]
ours_files, tsk_files, listed = int(sys.argv[10]), int(sys.argv[11]), sys.argv[12]
peak_fls, peak_tsk = int(sys.argv[13]) / 1024, int(sys.argv[14]) / 1024
fls_entries, ours = int(sys.argv[15]), sys.argv[16] == "1"
listed_exhaustive = sys.argv[17]
scan_built = " 0 Directories 0 Files" not in listed_exhaustive
print(f"peers: cat IMAGE {cat * 1000:.0f} ms; fls -r -p {fls * 1000:.0f} ms ({fls_entries} entries, "
      f"peak {peak_fls:.1f} MB); tsk_recover -e {tsk * 1000:.0f} ms ({tsk_files} files, peak {peak_tsk:.1f} MB)")
print("targets: MFT walk <= 0.5x fls -r -p, scan <= 1.3x cat IMAGE, recover <= 1.0x tsk_recover -e, "
      "peak memory < 200 MB")
if not ours:
    sys.exit(0)
def line(what, mine, peer, peer_name, target):
    ratio = mine / peer
    verdict = "ok" if ratio <= target else "ABOVE TARGET"
    print(f"{what:<24} {mine * 1000:8.0f} ms   {peer_name:<16} {peer * 1000:8.0f} ms   ratio {ratio:5.2f}x (target <= {target}x) {verdict}")
print(f"dravolin scan found: {listed}")
line("MFT walk", scan, fls, "fls -r -p", 0.5)
if scan_built:
    print(f"dravolin scan --exhaustive found: {listed_exhaustive}")
    line("MFT and index scan", exhaustive, cat, "cat IMAGE", 1.3)
else:
    print("MFT and index scan       not built in this binary (it lists nothing); no ratio")
line("recover every file", recover, tsk, "tsk_recover -e", 1.0)
print(f"files recovered: dravolin {ours_files}, tsk_recover {tsk_files}")
peak_mb = max(peaks)
print(f"peak memory: walk {peaks[0]:.1f} MB, scan {peaks[1]:.1f} MB, recover {peaks[2]:.1f} MB; "
      f"highest {peak_mb:.1f} MB (target < 200 MB) {'ok' if peak_mb < 200 else 'ABOVE TARGET'}")
PY
[[ -n "$ours" ]] && cold_line "MFT and index scan" "$t_exhaustive_cold" "$t_cat_cold"
