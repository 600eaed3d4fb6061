#!/usr/bin/env bash
# How dravolin scales with the number of files: FAT32 and NTFS images of
# about 10,000, 100,000 and 1,000,000 files (the same tree shape at every
# size: folders of 50 files, 5% of the files deleted), built once by real
# tools (mkfs.fat + mtools, mkntfs + ntfs-3g) and cached in build/bench; the
# 100,000-file images are the ones of bench_fat.sh and bench_ntfs.sh. For
# each size and file system it reports the time (best of the runs, page
# cache warm), the processor time and the peak memory (/usr/bin/time -v) of
#   directory tree search   `dravolin scan`
#   exhaustive search       `dravolin scan --exhaustive` (FAT: every cluster;
#                           NTFS: the MFT and index scan)
#   saving every file       `dravolin recover --all` into build/bench (deleted after)
# with the ratio time(10x files) / time(x files) (target <= 12) and the peak
# memory per found entry (target <= 1 KB; the million-file scans under 1 GB).
# DRAVOLIN_BENCH_SIZES selects the sizes (default "10k 100k 1m"; for a quick
# run "10k 100k"), DRAVOLIN_BENCH_FS the file systems (default "fat ntfs");
# DRAVOLIN_BENCH_CACHE=cold evicts the image's pages before every run
# instead of reading the image into the page cache first.
# The million-file images take about 16 GB each and some minutes to build;
# the free space is checked first.
# Usage: bench/bench_scale.sh BUILD_DIR   (a release build: BUILD_DIR/src/cli/dravolin)
set -euo pipefail
build=${1:?usage: bench_scale.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
dravolin="$build/src/cli/dravolin"
[[ -x "$dravolin" ]] || { echo "bench_scale: $dravolin not built (cmake --preset release && cmake --build --preset release)" >&2; exit 1; }
for tool in python3 /usr/bin/time df fincore; do
  command -v "$tool" >/dev/null || { echo "bench_scale: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done
source "$here/images.sh"

sizes=${DRAVOLIN_BENCH_SIZES:-10k 100k 1m}
cache=${DRAVOLIN_BENCH_CACHE:-warm}
[[ $cache == warm || $cache == cold ]] || { echo "bench_scale: DRAVOLIN_BENCH_CACHE is warm or cold" >&2; exit 2; }
systems=${DRAVOLIN_BENCH_FS:-fat ntfs}
work="$root/build/bench"
out="$work/scale-out"
home="$work/scale-home"
mkdir -p "$work"
rm -rf "$out" "$home"
mkdir -p "$home"
trap 'rm -rf "$out"' EXIT

# The recipe of each size: image MiB, top folders, FAT staging batch (top
# folders per mcopy; empty: the whole tree at once). Folders of 50 folders of
# 50 files, every 20th file deleted. The 100k recipe is bench_fat.sh's and
# bench_ntfs.sh's.
declare -A MIB=([10k]=512 [100k]=1536 [1m]=15360)
declare -A TOP=([10k]=4 [100k]=40 [1m]=400)
declare -A BATCH=([10k]="" [100k]="" [1m]=20)
readonly EACH=50 FILES=50 DELETE_EVERY=20
for size in $sizes; do
  [[ -n "${MIB[$size]:-}" ]] || { echo "bench_scale: unknown size '$size' (known: 10k 100k 1m)" >&2; exit 2; }
done
for fs in $systems; do
  [[ $fs == fat || $fs == ntfs ]] || { echo "bench_scale: unknown file system '$fs' (known: fat ntfs)" >&2; exit 2; }
done
image_of() { if [[ $1 == fat ]]; then echo "$work/fat32-$2.img"; else echo "$work/ntfs-$2.img"; fi; }
recipe_of() { echo "v1 ${MIB[$1]} ${TOP[$1]} $EACH $FILES $DELETE_EVERY"; }
ready() {
  if [[ $1 == fat ]]; then fat_image_ready "$(image_of fat "$2")" "$(recipe_of "$2")"
  else ntfs_image_ready "$(image_of ntfs "$2")" "$(recipe_of "$2")"; fi
}
files_of() { echo $((TOP[$1] * EACH * FILES)); }

# Room: each image still to build (its allocated part: about 9.5 KB a file
# with the file system's own structures, plus the staged tree when it is
# staged on disk), and the saved files of the largest size (about 8.5 KB a
# file in 4 KiB blocks).
need=0 largest=0
for size in $sizes; do
  n=$(files_of "$size")
  ((n > largest)) && largest=$n
  for fs in $systems; do
    ready "$fs" "$size" && continue
    need=$((need + n * 9728))
    [[ $fs == fat && -z "${BATCH[$size]}" ]] && need=$((need + n * 8704))
  done
done
need=$((need + largest * 8704))
avail=$(df --output=avail -B1 "$work" | tail -1)
echo "bench_scale: sizes: $sizes; file systems: $systems; needs about $((need / 1048576)) MB free in $work (has $((avail / 1048576)) MB)"
if ((avail < need)); then
  echo "bench_scale: not enough free space in $work: free $(((need - avail) / 1048576)) MB more, or choose fewer sizes (DRAVOLIN_BENCH_SIZES=\"10k 100k\")" >&2
  exit 1
fi

# Builds what is missing.
usable=""
for fs in $systems; do
  for size in $sizes; do
    image=$(image_of "$fs" "$size")
    if ! ready "$fs" "$size"; then
      if [[ $fs == fat ]]; then
        for tool in mkfs.fat mcopy mdel; do
          command -v "$tool" >/dev/null || { echo "bench_scale: $tool is missing (scripts/install-deps)" >&2; exit 1; }
        done
        echo "bench_scale: building $image ($(files_of "$size") files; once)"
        build_fat_image "$image" "${MIB[$size]}" "${TOP[$size]}" "$EACH" "$FILES" "$DELETE_EVERY" "${BATCH[$size]}"
      else
        for tool in mkntfs ntfs-3g mountpoint; do
          command -v "$tool" >/dev/null || { echo "bench_scale: $tool is missing (scripts/install-deps)" >&2; exit 1; }
        done
        if [[ $EUID -ne 0 || ! -c /dev/fuse ]]; then
          echo "bench_scale: building $image needs root and /dev/fuse (ntfs-3g); NTFS $size left out" >&2
          continue
        fi
        echo "bench_scale: building $image ($(files_of "$size") files; once)"
        build_ntfs_image "$image" "${MIB[$size]}" "${TOP[$size]}" "$EACH" "$FILES" "$DELETE_EVERY"
      fi
      recipe_of "$size" > "$image.stamp"
    fi
    usable+="$fs:$size "
  done
done

options=(--config "$home/dravolin.ini" --log-dir "$home/logs" --quiet)
# measure RUNS COMMAND...: runs COMMAND RUNS times under /usr/bin/time (on
# a cold cache each run starts with $image evicted) and prints "WALL USER
# SYSTEM PEAK_KB" of the run with the shortest wall time; the last line of
# COMMAND's output goes to $work/scale-last. Fails when COMMAND fails.
measure() {
  local runs=$1 best="" line
  shift
  # Warm: one run first, untimed, so the page cache holds what the command
  # reads (a million-file image is larger than what a cat of it leaves).
  [[ $cache == warm ]] && { "$@" > /dev/null 2>&1 || true; }
  for ((i = 0; i < runs; i++)); do
    [[ $cache == cold ]] && dd if="$image" iflag=nocache count=0 status=none
    line=$(/usr/bin/time -f "%e %U %S %M" -o "$work/scale-time" "$@" 2>/dev/null | tail -n 1 > "$work/scale-last"; cat "$work/scale-time") ||
      { echo "bench_scale: failed: $*" >&2; return 1; }
    line=$(tail -n 1 <<<"$line")
    if [[ -z "$best" ]] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then best=$line; fi
  done
  echo "$best"
}

# Reads the image into the page cache. A file read once goes to the kernel's
# list of pages seen once, which may drop some of a large image's own pages
# while it is read (one pass left 9 of the 15 GB of a million-file image
# in memory); read again, the pages count as used and stay. Reads it up to
# three times, until all of it is in memory, and says when it is not.
warm_image() {
  local image=$1 size resident pass
  size=$(stat -c %s "$image")
  for pass in 1 2 3; do
    cat "$image" > /dev/null
    resident=$(fincore --bytes --noheadings --output RES "$image" 2>/dev/null || echo "$size")
    ((resident >= size)) && return 0
  done
  echo "bench_scale: only $((resident / 1048576)) of $((size / 1048576)) MB of $image stay in memory" >&2
}

results="$work/scale-results"
: > "$results"
for pair in $usable; do
  fs=${pair%%:*} size=${pair#*:}
  image=$(image_of "$fs" "$size")
  runs=3 save_runs=2
  [[ $size == 1m ]] && runs=2 save_runs=1
  [[ $cache == warm ]] && warm_image "$image"
  scan=$(measure "$runs" "$dravolin" scan "$image" "${options[@]}")
  found=$(cat "$work/scale-last")
  exhaustive=$(measure "$runs" "$dravolin" scan "$image" --exhaustive "${options[@]}")
  found_exhaustive=$(cat "$work/scale-last")
  save_best=""
  for ((r = 0; r < save_runs; r++)); do
    rm -rf "$out"
    sync
    # Until the files are on the disk: the saved data of the small sizes
    # would otherwise still sit in the page cache when the clock stops.
    save=$(cache=none measure 1 sh -c '"$@" && sync -f "$0"' "$out" "$dravolin" recover "$image" --all --to "$out" --on-exists replace "${options[@]}")
    if [[ -z "$save_best" ]] || awk -v a="${save%% *}" -v b="${save_best%% *}" 'BEGIN { exit !(a < b) }'; then save_best=$save; fi
  done
  saved=$(find "$out" -type f | wc -l)
  rm -rf "$out"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$fs" "$size" "$scan" "$found" "$exhaustive" "$found_exhaustive" \
    "$save_best" "$saved" >> "$results"
done

python3 - "$results" "$cache" <<'PY'
import re, sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1]) if line.strip()]
order = {"10k": 0, "100k": 1, "1m": 2}
def counted(found):
    m = re.search(r"(\d+) Directories (\d+) Files", found)
    return (int(m.group(1)), int(m.group(2))) if m else (0, -1)
table, saved_files = {}, {}
for fs, size, scan, found, exhaustive, found_exhaustive, save, saved in rows:
    for step, figures, listed in (("tree search", scan, found), ("exhaustive search", exhaustive, found_exhaustive),
                                  ("saving", save, found)):
        wall, user, system, peak = figures.split()
        folders, files = counted(listed)
        table[(fs, step, size)] = (float(wall), float(user), float(system), int(peak), folders + files, files)
    saved_files[(fs, size)] = int(saved)
# Memory per entry is judged on what each size adds to the one below it
# (the program's own few MB are the same at every size); the peak divided by
# the entries is shown beside it.
failures = 0
print(f"page cache: {sys.argv[2]}; time: best wall time; user, sys: processor time of that run in the program and in the kernel")
print(f"{'':5} {'step':<18} {'size':>5} {'entries':>8} {'time s':>8} {'user s':>7} {'sys s':>7} {'peak MB':>8}"
      f" {'B/entry':>7} {'added B/entry':>13} {'time ratio':>10} {'user ratio':>10}")
for fs in ("fat", "ntfs"):
    for step in ("tree search", "exhaustive search", "saving"):
        previous = None
        for size in sorted({k[2] for k in table if k[0] == fs and k[1] == step}, key=order.get):
            wall, user, system, peak, count, files = table[(fs, step, size)]
            per_entry = peak * 1024 / count if count else float("inf")
            verdicts, ratio, user_ratio, added = [], "", "", ""
            if previous and order[size] == order[previous[0]] + 1:
                _, p_wall, p_user, p_peak, p_count = previous
                r = wall / p_wall if p_wall > 0 else float("inf")
                ratio = f"{r:.2f}x"
                user_ratio = f"{user / p_user:.2f}x" if p_user > 0 else ""
                if r > 12:
                    verdicts.append("time ratio ABOVE TARGET (<= 12)")
                if count > p_count:
                    grown = (peak - p_peak) * 1024 / (count - p_count)
                    added = f"{grown:.0f}"
                    if grown > 1024:
                        verdicts.append("memory per entry ABOVE TARGET (<= 1 KB)")
            if size == "1m" and step != "saving" and peak > 1024 * 1024:
                verdicts.append("peak memory ABOVE TARGET (< 1 GB)")
            if step == "saving" and saved_files[(fs, size)] != files:
                verdicts.append(f"saved {saved_files[(fs, size)]} of {files} files")
            failures += bool(verdicts)
            print(f"{fs:<5} {step:<18} {size:>5} {count:>8} {wall:8.2f} {user:7.2f} {system:7.2f} {peak / 1024:8.1f}"
                  f" {per_entry:7.0f} {added:>13} {ratio:>10} {user_ratio:>10} {'; '.join(verdicts) or 'ok'}")
            previous = (size, wall, user, peak, count)
print("targets: time(10x files) <= 12 x time(x files); peak memory <= 1 KB per found entry, "
      "million-file scans < 1 GB: " + ("all ok" if failures == 0 else f"{failures} ABOVE TARGET"))
PY
