#!/usr/bin/env bash
# Seeds the corpus of gpt_fuzz from the GPT fixture: its first 34 sectors
# (protective MBR, primary header, entry array); those followed by the
# backup entry array and header (the last 33 sectors), moved so that the
# backup's sector numbers fit the shorter disk; and that same disk with the
# primary header damaged, so the fuzzer starts on both paths of the reader.
#   fuzz/seed-gpt-corpus.sh FIXTURES_DIR CORPUS_DIR
set -euo pipefail
fixtures="$1" corpus="$2"
image="$fixtures/gpt.img"
[[ -f "$image" ]] || { echo "seed-gpt-corpus.sh: $image missing: build the fixtures first" >&2; exit 1; }
mkdir -p "$corpus"
python3 - "$image" "$corpus" <<'PY'
import struct, sys, zlib
image, corpus = sys.argv[1:3]
data = open(image, "rb").read()
primary = data[:34 * 512]
backup = bytearray(data[-33 * 512:])
header = 32 * 512
# The shorter disk: 34 + 33 sectors; the backup array at 34, its header at 66.
struct.pack_into("<QQ", backup, header + 24, 66, 1)
struct.pack_into("<Q", backup, header + 72, 34)
size = struct.unpack_from("<I", backup, header + 12)[0]
struct.pack_into("<I", backup, header + 16, 0)
struct.pack_into("<I", backup, header + 16, zlib.crc32(bytes(backup[header:header + size])))
both = primary + bytes(backup)
damaged = bytearray(both)
damaged[512 + 56] ^= 0xFF
for name, content in (("primary", primary), ("primary-and-backup", both), ("backup-only", bytes(damaged))):
    open("%s/%s" % (corpus, name), "wb").write(content)
PY
