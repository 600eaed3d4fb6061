#!/usr/bin/env bash
# exFAT searches against The Sleuth Kit and cat on one exFAT image holding
# 100,000 files in 1,000 folders (every 20th file deleted), made with
# mkfs.exfat and filled through exfat-fuse on a loop device, built once and
# cached in build/bench. Reports, in one run:
#   tree search        `dravolin scan`              vs `fls -r -p`   (target <= 0.5x)
#   exhaustive search  `dravolin scan --exhaustive` vs `cat IMAGE`   (target <= 1.3x)
# Each timing is the best of three runs with the image in the page cache.
# Needs root for losetup and FUSE on the first run (the image is cached).
# Usage: bench/bench_exfat.sh BUILD_DIR   (a release build: BUILD_DIR/src/cli/dravolin)
#   EXFAT_BENCH_FOLDERS / EXFAT_BENCH_FILES_EACH make a smaller image for a trial.
set -euo pipefail
build=${1:?usage: bench_exfat.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
dravolin="$build/src/cli/dravolin"
[[ -x "$dravolin" ]] || { echo "bench_exfat: $dravolin not built (cmake --preset release && cmake --build --preset release)" >&2; exit 1; }
for tool in mkfs.exfat mount.exfat-fuse losetup fls python3; do
  command -v "$tool" >/dev/null || { echo "bench_exfat: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done

readonly FOLDERS=${EXFAT_BENCH_FOLDERS:-1000} FILES_EACH=${EXFAT_BENCH_FILES_EACH:-100} IMAGE_MIB=1024 DELETE_EVERY=20
work="$root/build/bench"
image="$work/exfat-$((FOLDERS * FILES_EACH)).img"
stamp="$image.stamp"
home="$work/exfat-home"
recipe="v1 $IMAGE_MIB $FOLDERS $FILES_EACH $DELETE_EVERY"
mkdir -p "$work"
rm -rf "$home"
mkdir -p "$home"

mnt="" loop=""
cleanup() {
  [[ -n "$mnt" ]] && mountpoint -q "$mnt" && umount "$mnt"
  [[ -n "$loop" ]] && losetup -d "$loop" 2>/dev/null
  [[ -n "$mnt" ]] && rmdir "$mnt" 2>/dev/null
  true
}
trap cleanup EXIT

build_image() {
  mnt=$(mktemp -d)
  rm -f "$image"
  truncate -s "${IMAGE_MIB}M" "$image"
  mkfs.exfat -L BENCH "$image" >/dev/null
  loop=$(losetup --find --show "$image") || { echo "bench_exfat: losetup is not allowed here" >&2; exit 1; }
  mount.exfat-fuse "$loop" "$mnt" >/dev/null || { echo "bench_exfat: mount.exfat-fuse failed" >&2; exit 1; }
  python3 - "$mnt" "$FOLDERS" "$FILES_EACH" "$DELETE_EVERY" <<'PY'
import os, sys
mnt, folders, each, every = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
n = 0
for d in range(folders):
    folder = os.path.join(mnt, f"folder{d // 50:02d}", f"sub{d:04d}")
    os.makedirs(folder, exist_ok=True)
    for f in range(each):
        with open(os.path.join(folder, f"file{f:03d}.dat"), "wb") as out:
            out.write(os.urandom(512 + (n * 37) % 7000))
        n += 1
n = 0
for d in range(folders):
    folder = os.path.join(mnt, f"folder{d // 50:02d}", f"sub{d:04d}")
    for f in range(each):
        if n % every == 0:
            os.remove(os.path.join(folder, f"file{f:03d}.dat"))
        n += 1
PY
  sync
  umount "$mnt"
  losetup -d "$loop" 2>/dev/null || true
  loop=""
  echo "$recipe" > "$stamp"
}

if [[ ! -f "$image" || "$(cat "$stamp" 2>/dev/null)" != "$recipe" ]]; then
  echo "bench_exfat: building $image (once; takes a few minutes)"
  build_image
fi

options=(--config "$home/dravolin.ini" --log-dir "$home/logs" --quiet)
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cat "$image" > /dev/null
t_cat=$(best_of 3 cat "$image")
t_fls=$(best_of 3 fls -r -p "$image")
t_scan=$(best_of 3 "$dravolin" scan "$image" "${options[@]}")
t_exhaustive=$(best_of 3 "$dravolin" scan "$image" --exhaustive "${options[@]}")
listed=$("$dravolin" scan "$image" "${options[@]}" | tail -1)
fls_files=$(fls -r -p "$image" | grep -c '^r/r ' || true)

python3 - "$t_fls" "$t_scan" "$t_cat" "$t_exhaustive" "$listed" "$fls_files" <<'PY'
import sys
fls, scan, cat, exhaustive = map(float, sys.argv[1:5])
def line(what, ours, peer, peer_name, target):
    ratio = ours / peer
    verdict = "ok" if ratio <= target else "ABOVE TARGET"
    print(f"{what:<24} {ours * 1000:8.0f} ms   {peer_name:<16} {peer * 1000:8.0f} ms   ratio {ratio:5.2f}x (target <= {target}x) {verdict}")
print(f"dravolin scan found: {sys.argv[5]}; fls lists {sys.argv[6]} files")
line("exFAT tree search", scan, fls, "fls -r -p", 0.5)
line("exFAT exhaustive search", exhaustive, cat, "cat IMAGE", 1.3)
PY
