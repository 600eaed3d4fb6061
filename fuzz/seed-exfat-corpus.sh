#!/usr/bin/env bash
# Seeds the exFAT fuzz targets into SEED_ROOT/<target> from a 64 KiB exFAT
# volume made by mkfs.exfat (512-byte clusters) and filled through
# exfat-fuse on a loop device: a folder, files, one deleted.
#
#   fuzz/seed-exfat-corpus.sh SEED_ROOT
#
# Needs root for losetup and FUSE; says so and exits 0 where they are missing.
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 SEED_ROOT" >&2; exit 2; }
seeds=$1
work=$(mktemp -d)
loop=""
cleanup() {
  mountpoint -q "$work/mnt" 2>/dev/null && umount "$work/mnt"
  [[ -n "$loop" ]] && losetup -d "$loop" 2>/dev/null
  mountpoint -q "$work/mnt" 2>/dev/null || rm -rf "$work"
}
trap cleanup EXIT
vol="$work/seed.vol"
truncate -s 64K "$vol"
mkfs.exfat -b 4096 -c 512 -L SEED "$vol" >/dev/null
mkdir -p "$work/mnt" "$seeds"/exfat_search_fuzz "$seeds"/exfat_boot_sector_fuzz "$seeds"/exfat_entry_set_fuzz
if loop=$(losetup --find --show "$vol" 2>/dev/null) && mount.exfat-fuse "$loop" "$work/mnt" >/dev/null 2>&1; then
  mkdir "$work/mnt/Folder"
  printf 'hello' > "$work/mnt/Folder/a.txt"
  head -c 3000 /dev/urandom > "$work/mnt/b.bin"
  printf 'gone' > "$work/mnt/Folder/gone.txt"
  rm "$work/mnt/Folder/gone.txt"
  sync
  umount "$work/mnt"
  losetup -d "$loop" 2>/dev/null || true
  loop=""
else
  echo "seed-exfat-corpus: no loop device or FUSE here: the volume stays empty" >&2
  [[ -n "$loop" ]] && losetup -d "$loop" 2>/dev/null; loop=""
fi
cp "$vol" "$seeds/exfat_search_fuzz/volume"
head -c $((24 * 512)) "$vol" > "$seeds/exfat_boot_sector_fuzz/boot-regions"
# Every cluster of the heap (sector 32 on) that begins with an entry.
for ((c = 0; c < 96; c++)); do
  dd if="$vol" of="$work/cluster" bs=512 skip=$((32 + c)) count=1 status=none
  [[ $(head -c 1 "$work/cluster" | od -An -tx1 | tr -d ' ') =~ ^(81|82|83|85|05)$ ]] || continue
  cp "$work/cluster" "$seeds/exfat_entry_set_fuzz/cluster-$c"
done
