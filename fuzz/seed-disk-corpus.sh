#!/usr/bin/env bash
# Seeds the corpora of the disk-level fuzz targets from the fixture images:
#
#   fuzz/seed-disk-corpus.sh FIXTURES_DIR CORPUS_ROOT
#
# fat_search_fuzz: each FAT fixture made compact (its reserved sectors, the
#   first sectors of both FATs, the root folder and the first 24 KiB of the
#   data area, where the fixtures keep their folders), the FAT size in the
#   boot sector set to what was kept, behind the byte that picks the width;
# partition_listing_fuzz: each MBR fixture made compact (MBR and EBR chain
#   rewritten so that every partition keeps only its first sectors, FAT
#   partitions with their FAT size shrunk so the volume check still finds the
#   second FAT), and the GPT fixture's head and backup;
# header_match_fuzz: the first sector of every file in the carving fixtures
#   (and the sector just before, as the scan meets it).
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 FIXTURES_DIR CORPUS_ROOT" >&2; exit 2; }
python3 - "$1" "$2" <<'PYTHON'
import os, struct, sys
fixtures, out = sys.argv[1], sys.argv[2]
S = 512

def target(name):
    path = os.path.join(out, name)
    os.makedirs(path, exist_ok=True)
    return path

def save(name, file, blob):
    with open(os.path.join(target(name), file), "wb") as f:
        f.write(blob)

def fat_layout(boot):
    spc = boot[13]
    reserved, fats, root_entries = struct.unpack_from("<HBH", boot, 14)
    fat16_size = struct.unpack_from("<H", boot, 22)[0]
    fat_size = fat16_size or struct.unpack_from("<I", boot, 36)[0]
    return spc, reserved, fats, root_entries, fat_size, fat16_size == 0

def compact_fat(volume, keep_fat=4, keep_data=24 * 1024, keep_root=True):
    """The volume's reserved sectors, the first keep_fat sectors of two FATs,
    the root folder (FAT12, FAT16) and the first keep_data bytes of the data
    area, with the FAT size in the boot sector (and FAT32's backup) set to
    keep_fat."""
    spc, reserved, fats, root_entries, fat_size, fat32 = fat_layout(volume[:S])
    if fats < 2 or fat_size == 0 or reserved == 0:
        return None
    keep = min(keep_fat, fat_size)
    head = bytearray(volume[:reserved * S])
    for boot in ((0, 6 * S) if fat32 and reserved > 6 else (0,)):
        if fat32:
            struct.pack_into("<I", head, boot + 36, keep)
        else:
            struct.pack_into("<H", head, boot + 22, keep)
    fat1 = reserved * S
    fat2 = fat1 + fat_size * S
    root = (root_entries * 32 + S - 1) // S * S if keep_root else 0
    data = fat2 + fat_size * S
    return (bytes(head) + volume[fat1:fat1 + keep * S] + volume[fat2:fat2 + keep * S]
            + volume[data:data + root + keep_data])

def read(path):
    with open(path, "rb") as f:
        return f.read()

# FAT volumes: the first byte picks FAT12, FAT16 or FAT32 (byte % 3).
width = {12: 0, 16: 1, 32: 2}
fat_images = [("fat12.img", 12), ("fat16.img", 16), ("fat32.img", 32),
              ("damaged/fat12-duplicate-names.img", 12), ("damaged/fat12-long-chain.img", 12),
              ("damaged/fat16-dotdot-names.img", 16), ("damaged/fat16-oversized-count.img", 16),
              ("damaged/fat16-oversized-file-size.img", 16)]
for name, bits in fat_images:
    path = os.path.join(fixtures, name)
    if not os.path.exists(path):
        continue
    compact = compact_fat(read(path))
    if compact:
        base = os.path.basename(name).replace(".img", "")
        save("fat_search_fuzz", base, bytes([width[bits]]) + compact)
        # The same volume read as the other widths reaches their walks too.
        save("fat_search_fuzz", base + "-as-other-width", bytes([(width[bits] + 1) % 3]) + compact)

# Disks with an MBR (and EBR chain): every partition shrunk to its first
# sectors, laid one after the other.
def volume_head(volume, kind):
    if kind in (0x01, 0x04, 0x06, 0x0B, 0x0C, 0x0E):
        spc, reserved, fats, root_entries, fat_size, fat32 = fat_layout(volume[:S])
        compact = compact_fat(volume, keep_fat=1, keep_data=0, keep_root=False) if fat_size else None
        if compact:
            return compact
    return volume[:16 * S]

def compact_mbr_disk(disk):
    mbr = bytearray(disk[:S])
    pieces = []
    position = 64  # sectors: room for the MBR before the first partition
    def place(blob):
        nonlocal position
        start = position
        blob += b"\0" * (-len(blob) % S)
        pieces.append((start, blob))
        position += len(blob) // S + 2
        return start, len(blob) // S
    for slot in range(4):
        entry = 446 + 16 * slot
        kind = mbr[entry + 4]
        first, count = struct.unpack_from("<II", mbr, entry + 8)
        if kind == 0 or count == 0:
            continue
        if kind in (0x05, 0x0F, 0x85):
            extended_new = position
            position += 1  # the first EBR sits at the start of the extended partition
            ebr_at, new_ebr_at = first, extended_new
            ebrs = []
            for _ in range(26):
                ebr = bytearray(disk[ebr_at * S:(ebr_at + 1) * S])
                if len(ebr) < S or ebr[510:512] != b"\x55\xaa":
                    break
                lkind = ebr[446 + 4]
                lrel, lcount = struct.unpack_from("<II", ebr, 446 + 8)
                start, length = place(volume_head(disk[(ebr_at + lrel) * S:(ebr_at + lrel + 8192) * S], lkind))
                struct.pack_into("<II", ebr, 446 + 8, start - new_ebr_at, length)
                next_rel = struct.unpack_from("<I", ebr, 446 + 16 + 8)[0]
                ebrs.append((new_ebr_at, ebr))
                if ebr[446 + 16 + 4] == 0 or next_rel == 0:
                    break
                ebr_at = first + next_rel
                new_ebr_at = position
                position += 1
                struct.pack_into("<II", ebr, 446 + 16 + 8, new_ebr_at - extended_new, 1)
            for at, ebr in ebrs:
                pieces.append((at, bytes(ebr)))
            struct.pack_into("<II", mbr, entry + 8, extended_new, position - extended_new)
        else:
            start, length = place(volume_head(disk[first * S:(first + 8192) * S], kind))
            struct.pack_into("<II", mbr, entry + 8, start, length)
    image = bytearray(position * S)
    image[:S] = mbr
    for at, blob in pieces:
        image[at * S:at * S + len(blob)] = blob
    return bytes(image)

for name in ("mbr.img", "demo.img", "damaged/mbr-bad-lengths.img", "damaged/mbr-failed-volume-checks.img",
             "damaged/mbr-lost-boot.img"):
    path = os.path.join(fixtures, name)
    if os.path.exists(path):
        save("partition_listing_fuzz", os.path.basename(name).replace(".img", ""), compact_mbr_disk(read(path)))
for name in ("fat12.img", "fat16.img"):  # a volume without a partition table
    path = os.path.join(fixtures, name)
    if os.path.exists(path):
        save("partition_listing_fuzz", name.replace(".img", "-superfloppy"), compact_fat(read(path), 1, 0, False))
for name in ("gpt.img", "damaged/gpt-primary-header-damaged.img"):
    path = os.path.join(fixtures, name)
    if os.path.exists(path):
        data = read(path)
        save("partition_listing_fuzz", os.path.basename(name).replace(".img", "-head"), data[:34 * S])

# Carving: the sector every carved file starts in, and the one before it.
for name in ("carving/carving.img", "damaged/carving-stray-zip.img"):
    path = os.path.join(fixtures, name)
    if not os.path.exists(path):
        continue
    data = read(path)
    manifest = path + ".manifest.tsv"
    starts = set()
    if os.path.exists(manifest):
        for line in open(manifest).read().splitlines()[1:]:
            fields = line.split("\t")
            if len(fields) > 1 and fields[1].isdigit():
                starts.add(int(fields[1]))
    else:
        starts = {n for n in range(len(data) // S) if data[n * S:n * S + 4].strip(b"\0")}
        starts = set(sorted(starts)[:64])
    base = os.path.basename(name).replace(".img", "")
    for n in sorted(starts):
        save("header_match_fuzz", "%s-%d" % (base, n), data[n * S:(n + 1) * S])
        if n > 0:
            save("header_match_fuzz", "%s-%d-before" % (base, n), data[(n - 1) * S:n * S])
print("seeded the FAT, partition and carving corpora into %s" % out)
PYTHON
