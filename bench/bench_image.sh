#!/usr/bin/env bash
# Imaging 1 GiB with `dravolin image` (which also computes the MD5 and the
# SHA-256 of the copy) against `dd bs=1M`, same run, same image, both writing
# a new file in the same folder. Each is timed seven times, alternating, and
# the best times are compared. Every copy is compared with its source and its
# hashes with those of md5sum and sha256sum. md5sum and sha256sum alone are
# timed too: a copy cannot be faster than the slower of the two digests.
set -euo pipefail
build=${1:?usage: bench_image.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
dravolin="$build/src/cli/dravolin"
[[ -x "$dravolin" ]] || { echo "bench_image: $dravolin not built (cmake --preset release && cmake --build --preset release)" >&2; exit 1; }
source "$root/bench/lib.sh"
work="$root/build/bench"
image="$work/image-1g.img"
out="$work/image-out"
mkdir -p "$work"
rm -rf "$out"
mkdir -p "$out"
trap 'rm -rf "$out"' EXIT

# The image is kept between runs; the copies need room for two more.
need=$((2 * 1100 * 1024 * 1024))
[[ -f "$image" ]] || need=$((need + 1100 * 1024 * 1024))
avail=$(df --output=avail -B1 "$work" | tail -1)
if (( avail < need )); then
  echo "bench_image: needs about $((need / 1048576)) MB free in $work (has $((avail / 1048576)) MB)" >&2
  exit 1
fi
if [[ ! -f "$image" ]]; then
  # Random data, so nothing in the path can shortcut zero pages.
  head -c $((1024 * 1024 * 1024)) /dev/urandom > "$image.tmp" && mv "$image.tmp" "$image"
fi
cat "$image" > /dev/null  # warm the page cache for both readers
md5=$(md5sum < "$image" | cut -d' ' -f1)
sha256=$(sha256sum < "$image" | cut -d' ' -f1)

best_dd=""
best_ours=""
for run in 1 2 3 4 5 6 7; do
  rm -f "$out/dd.img" "$out/ours0.img"
  sync
  t0=$(now)
  dd if="$image" of="$out/dd.img" bs=1M status=none
  t1=$(now)
  rm -f "$out/dd.img"
  sync
  t2=$(now)
  "$dravolin" image "$image" --whole-disk --to "$out/ours.img" --quiet --overwrite \
    --config "$out/dravolin.ini" --log-dir "$out/logs" > /dev/null
  t3=$(now)
  cmp -s "$image" "$out/ours0.img" || { echo "bench_image: the image differs from its source" >&2; exit 1; }
  if ! grep -qx "$md5  ours0.img" "$out/ours.img.hashes.txt" || ! grep -qx "$sha256  ours0.img" "$out/ours.img.hashes.txt"; then
    echo "bench_image: the hash list does not hold the md5sum and sha256sum of the source" >&2
    exit 1
  fi
  dd_time=$(echo "$t1 - $t0" | bc -l)
  ours_time=$(echo "$t3 - $t2" | bc -l)
  if [[ -z "$best_dd" ]] || (( $(echo "$dd_time < $best_dd" | bc -l) )); then best_dd=$dd_time; fi
  if [[ -z "$best_ours" ]] || (( $(echo "$ours_time < $best_ours" | bc -l) )); then best_ours=$ours_time; fi
done
rm -f "$out/ours0.img"
best_md5=$(best_of 3 sh -c 'md5sum < "$1"' sh "$image")
best_sha256=$(best_of 3 sh -c 'sha256sum < "$1"' sh "$image")
python3 - "$best_dd" "$best_ours" "$best_md5" "$best_sha256" <<'PY'
import sys
dd, ours, md5, sha = (float(v) for v in sys.argv[1:5])
mark = "" if ours <= 1.05 * dd else "   ABOVE TARGET"
print(f"dd bs=1M: {dd * 1000:.0f} ms   dravolin image with MD5 and SHA-256: {ours * 1000:.0f} ms   "
      f"ratio: {ours / dd:.2f}x (target <= 1.05x){mark}")
print(f"md5sum alone: {md5 * 1000:.0f} ms   sha256sum alone: {sha * 1000:.0f} ms   "
      f"(the copy cannot beat the slower digest: {max(md5, sha) / dd:.2f}x dd)")
PY
