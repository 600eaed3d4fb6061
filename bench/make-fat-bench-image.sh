#!/usr/bin/env bash
# Builds the FAT32 benchmark image: 1.5 GiB, 4 KiB clusters, about 100,000
# files (100 B to 20 KB, long names) in 2,000 folders plus 667 sub-folders,
# written with mkfs.fat and mtools. Kept once built; shared by the FAT
# benchmarks. Usage: bench/make-fat-bench-image.sh IMAGE
set -euo pipefail
image=${1:?usage: make-fat-bench-image.sh IMAGE}
[[ -f "$image" ]] && exit 0
for tool in mkfs.fat mcopy python3; do
  command -v "$tool" >/dev/null || { echo "make-fat-bench-image: $tool is needed" >&2; exit 1; }
done
dir=$(dirname "$image")
mkdir -p "$dir"
# The image, the file tree it is made from, and some slack.
need=$((1600 * 1024 * 1024 + 900 * 1024 * 1024))
avail=$(df --output=avail -B1 "$dir" | tail -1)
if (( avail < need )); then
  echo "make-fat-bench-image: needs about $((need / 1048576)) MB free in $dir (has $((avail / 1048576)) MB)" >&2
  exit 1
fi
tree=$(mktemp -d "$dir/fat-tree.XXXXXX")
trap 'rm -rf "$tree" "$image.tmp"' EXIT
python3 - "$tree" <<'PY'
import os, random, sys
random.seed(1)
base = sys.argv[1]
for d in range(2000):
    folder = os.path.join(base, f"folder {d:04d} with a long name")
    if d % 3 == 0:
        folder = os.path.join(folder, f"sub{d % 7}")
    os.makedirs(folder, exist_ok=True)
    for f in range(50):
        size = random.choice([100, 1000, 3000, 8000, 20000])
        with open(os.path.join(folder, f"file number {f:02d} of folder {d}.dat"), "wb") as out:
            out.write(os.urandom(size) if f % 10 == 0 else bytes([f]) * size)
PY
echo "make-fat-bench-image: writing 100,000 files with mtools (several minutes)" >&2
mkfs.fat -F 32 -s 8 -C "$image.tmp" 1572864 >/dev/null
MTOOLS_SKIP_CHECK=1 mcopy -s -i "$image.tmp" "$tree"/* ::/
mv "$image.tmp" "$image"
