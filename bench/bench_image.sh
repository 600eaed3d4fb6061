#!/usr/bin/env bash
# Imaging 1 GiB with `dravolin image` against `dd bs=1M`, same run, same
# image, all writing a new file in the same folder: without hashes
# (--hash none) against dd, with the default MD5 and SHA-256 against md5sum
# (MD5 runs on one core: it, not the copy, is the limit), and a rescue
# (--mapfile, a disk without errors) against the plain copy. Each is timed
# five times, alternating, and the best times are compared. Every copy is
# compared with its source and its hash files checked with md5sum -c and
# sha256sum -c.
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
best_plain=""
best_hashed=""
best_rescue=""
keep_best() {  # keep_best VAR SECONDS
  local current=${!1}
  if [[ -z "$current" ]] || (( $(echo "$2 < $current" | bc -l) )); then printf -v "$1" '%s' "$2"; fi
}
ours() {  # ours NAME [options...]: one copy, its time on stdout
  local name=$1
  shift
  rm -f "$out/$name".img* "$out/$name.map"
  sync
  local t0 t1
  t0=$(now)
  "$dravolin" image "$image" --whole-disk --to "$out/$name.img" --quiet \
    --config "$out/dravolin.ini" --log-dir "$out/logs" "$@" > /dev/null
  t1=$(now)
  cmp -s "$image" "$out/$name.img" || { echo "bench_image: the image $name.img differs from its source" >&2; exit 1; }
  echo "$t1 - $t0" | bc -l
}
for run in 1 2 3 4 5; do
  rm -f "$out/dd.img"
  sync
  t0=$(now)
  dd if="$image" of="$out/dd.img" bs=1M status=none
  t1=$(now)
  rm -f "$out/dd.img"
  keep_best best_dd "$(echo "$t1 - $t0" | bc -l)"
  t=$(ours plain --hash none)
  keep_best best_plain "$t"
  [[ ! -e "$out/plain.img.md5" ]] || { echo "bench_image: --hash none wrote a hash file" >&2; exit 1; }
  t=$(ours hashed)
  keep_best best_hashed "$t"
  if ! (cd "$out" && md5sum --strict -c hashed.img.md5 && sha256sum --strict -c hashed.img.sha256) > /dev/null 2>&1 ||
     ! grep -qx "$md5  hashed.img" "$out/hashed.img.md5" || ! grep -qx "$sha256  hashed.img" "$out/hashed.img.sha256"; then
    echo "bench_image: the hash files do not hold the md5sum and sha256sum of the source" >&2
    exit 1
  fi
  t=$(ours rescue --hash none --mapfile "$out/rescue.map")
  keep_best best_rescue "$t"
  grep -q '^0x00000000  0x40000000  +$' "$out/rescue.map" || { echo "bench_image: the mapfile is not all finished" >&2; exit 1; }
done
rm -f "$out"/*.img "$out"/*.map
best_md5=$(best_of 3 sh -c 'md5sum < "$1"' sh "$image")
best_sha256=$(best_of 3 sh -c 'sha256sum < "$1"' sh "$image")
python3 - "$best_dd" "$best_plain" "$best_hashed" "$best_rescue" "$best_md5" "$best_sha256" <<'PY'
import sys
dd, plain, hashed, rescue, md5, sha = (float(v) for v in sys.argv[1:7])
def line(what, ours, against, name, target):
    mark = "" if ours <= target * against else "   ABOVE TARGET"
    print(f"{what}: {ours * 1000:.0f} ms   {name}: {against * 1000:.0f} ms   "
          f"ratio: {ours / against:.2f}x (target <= {target}x){mark}")
line("dravolin image --hash none", plain, dd, "dd bs=1M", 1.05)
line("dravolin image (MD5 and SHA-256)", hashed, md5, "md5sum", 1.1)
line("dravolin image --mapfile --hash none", rescue, plain, "dravolin image --hash none", 1.1)
print(f"sha256sum alone: {sha * 1000:.0f} ms")
PY
