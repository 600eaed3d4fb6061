#!/usr/bin/env bash
# Seeds the corpora of the NTFS fuzz targets from an NTFS fixture image:
#
#   fuzz/seed-ntfs-corpus.sh build/fixtures/ntfs.img build/fuzz/corpus
#
# records ("FILE") for ntfs_record_fuzz, index buffers ("INDX") for
# ntfs_index_buffer_fuzz, the run bytes of every non-resident attribute for
# ntfs_data_runs_fuzz, attribute lists built from the records' own attributes
# for ntfs_attribute_list_fuzz, an LZNT1 unit for ntfs_lznt1_fuzz and the
# head of the volume (boot sector and MFT) for ntfs_volume_fuzz.
# The compressed units the volume holds also go to ntfs_lznt1_fuzz.
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 IMAGE CORPUS_DIR" >&2; exit 2; }
python3 - "$1" "$2" <<'PYTHON'
import os, struct, sys
image, out = sys.argv[1], sys.argv[2]
data = open(image, "rb").read()
dirs = {k: os.path.join(out, "ntfs_%s_fuzz" % k)
        for k in ("record", "index_buffer", "data_runs", "attribute_list", "lznt1", "volume")}
for d in dirs.values():
    os.makedirs(d, exist_ok=True)
def save(kind, name, blob):
    with open(os.path.join(dirs[kind], name), "wb") as f:
        f.write(blob)
records = 0
for pos in range(0, len(data), 512):
    sig = data[pos:pos + 4]
    if sig == b"FILE" and records < 200:
        rec = data[pos:pos + 1024]
        save("record", "record-%d" % pos, rec)
        records += 1
        # Attribute walk for run bytes and a list naming the record's attributes.
        off = struct.unpack_from("<H", rec, 20)[0]
        entries = b""
        while off + 16 <= len(rec):
            atype, alen = struct.unpack_from("<II", rec, off)
            if atype == 0xFFFFFFFF or alen < 16 or off + alen > len(rec):
                break
            if rec[off + 8]:
                runs_off = struct.unpack_from("<H", rec, off + 32)[0]
                save("data_runs", "runs-%d-%d" % (pos, off), b"\x00" + rec[off + runs_off:off + alen])
            entries += struct.pack("<IHBBQQH", atype, 32, 0, 26, 0, 30 | (1 << 48), 0) + b"\x00" * 6
            off += alen
        if entries:
            save("attribute_list", "list-%d" % pos, entries)
    elif sig == b"INDX":
        save("index_buffer", "indx-%d" % pos, data[pos:pos + 4096])
# The boot sector and the MFT records the target reads (the first 64 of
# them, the MFT starting at its cluster 4 on these volumes).
save("volume", "volume-head", data[:128 * 1024])
# Compressed units as the volume holds them: a sector that starts an LZNT1
# chunk (header 0xB...) whose next chunk header follows where the size says.
units = 0
for pos in range(0, len(data) - 4, 512):
    header = struct.unpack_from("<H", data, pos)[0]
    if header & 0xF000 != 0xB000 or units >= 16:
        continue
    end = pos
    while end + 2 <= len(data) and end - pos < 64 * 1024:
        h = struct.unpack_from("<H", data, end)[0]
        if h == 0 or h & 0x7000 != 0x3000:
            break
        end += (h & 0x0FFF) + 3
    if end - pos > 2 * 1024:
        save("lznt1", "unit-%d" % pos, data[pos:end + 2])
        units += 1
# "a", a back-reference making 4,096 "a", then an uncompressed chunk "xyz".
save("lznt1", "unit", bytes([0x03, 0xB0, 0x02, 0x61, 0xFC, 0x0F, 0x02, 0x30, 0x78, 0x79, 0x7A, 0, 0]))
print("seeded %d records into %s" % (records, out))
PYTHON
