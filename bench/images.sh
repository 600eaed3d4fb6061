# Builders of the benchmark images (sourced by the benchmark scripts). Each
# image is made once by real tools and cached beside a stamp holding its
# recipe; a changed recipe makes it again.
#
# The tree of every image: TOP folders "Project NN", each holding EACH
# folders "Folder NN" of FILES files "document NNNNN.dat" (100 to 12,000
# bytes cut from one random block, seed 2026), then every DELETE_EVERY-th
# file (in name order) deleted.

# fat_image_ready IMAGE RECIPE: is IMAGE built from RECIPE?
fat_image_ready() { [[ -f "$1" && "$(cat "$1.stamp" 2>/dev/null)" == "$2" ]]; }
# ntfs_image_ready IMAGE RECIPE: ... and is its count file there?
ntfs_image_ready() { fat_image_ready "$1" "$2" && [[ -f "$1.counts" ]]; }

# stage_tree STAGE TOP EACH FILES [FIRST LAST]: writes the files of the
# benchmark tree under STAGE; with FIRST and LAST only the top folders
# FIRST..LAST-1, drawing the same random numbers as a whole run would (the
# generator is replayed for the folders before FIRST).
stage_tree() {
  python3 - "$@" <<'PY'
import os, random, sys
stage, top, each, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
first = int(sys.argv[5]) if len(sys.argv) > 5 else 0
last = int(sys.argv[6]) if len(sys.argv) > 6 else top
rng = random.Random(2026)
block = rng.randbytes(1 << 16)
for t in range(min(top, last)):
    for s in range(each):
        folder = os.path.join(stage, "Project %02d" % t, "Folder %02d" % s)
        if t >= first:
            os.makedirs(folder)
        for f in range(files):
            size = rng.randint(100, 12000)
            start = rng.randrange(0, len(block) - size)
            if t >= first:
                with open(os.path.join(folder, "document %05d.dat" % (s * files + f)), "wb") as out:
                    out.write(block[start:start + size])
PY
}

# build_fat_image IMAGE MIB TOP EACH FILES DELETE_EVERY [BATCH]: a FAT32
# image (4 KiB clusters) made by mkfs.fat and filled by mtools. Without
# BATCH the whole tree is staged in one folder beside the image and copied
# by one mcopy; with BATCH it is staged BATCH top folders at a time in a
# memory folder (/dev/shm when there) and copied by one mcopy per batch, so
# that a million files need neither a second copy on disk nor hours.
build_fat_image() (
  local image=$1 mib=$2 top=$3 each=$4 files=$5 delete_every=$6 batch=${7:-}
  local work stage="" first
  work=$(dirname "$image")
  # Runs in its own shell: this trap cleans up however it ends.
  trap 'rm -rf "$stage" "$image.tmp"' EXIT
  trap 'exit 1' INT TERM
  set -e -o pipefail
  rm -f "$image" "$image.stamp" "$image.tmp"
  truncate -s "${mib}M" "$image.tmp"
  mkfs.fat -F 32 -s 8 --invariant -n BENCH "$image.tmp" >/dev/null
  export MTOOLS_SKIP_CHECK=1
  if [[ -z "$batch" ]]; then
    stage="$work/fat-stage"
    rm -rf "$stage"
    stage_tree "$stage" "$top" "$each" "$files"
    (cd "$stage" && mcopy -s -i "$image.tmp" ./* ::/)
  else
    if [[ -d /dev/shm && -w /dev/shm ]]; then stage=$(mktemp -d /dev/shm/dravolin-fat-stage.XXXXXX)
    else stage=$(mktemp -d "$work/fat-stage.XXXXXX"); fi
    for ((first = 0; first < top; first += batch)); do
      stage_tree "$stage" "$top" "$each" "$files" "$first" "$((first + batch))"
      (cd "$stage" && mcopy -s -i "$image.tmp" ./* ::/)
      rm -rf "${stage:?}"/*
    done
  fi
  rm -rf "$stage"
  stage=""
  # Every DELETE_EVERY-th file, counted in name order over the whole tree,
  # is deleted.
  python3 - "$top" "$each" "$files" "$delete_every" <<'PY' | tr '\n' '\0' | xargs -0 -n 500 mdel -i "$image.tmp"
import sys
top, each, files, delete_every = map(int, sys.argv[1:5])
names = sorted("./Project %02d/Folder %02d/document %05d.dat" % (t, s, s * files + f)
               for t in range(top) for s in range(each) for f in range(files))
for i, name in enumerate(names, 1):
    if i % delete_every == 0:
        print("::" + name[2:])
PY
  mv "$image.tmp" "$image"
)

# build_ntfs_image IMAGE MIB TOP EACH FILES DELETE_EVERY: an NTFS image made
# by mkntfs and filled through ntfs-3g (FUSE) by one process, which deletes
# every DELETE_EVERY-th file after all writes (so their records and clusters
# stay) and writes the count file IMAGE.counts. Needs root and /dev/fuse.
build_ntfs_image() (
  local image=$1 mib=$2 top=$3 each=$4 files=$5 delete_every=$6
  local work mnt pid="" n
  work=$(dirname "$image")
  mnt=$(mktemp -d "$work/ntfs-mnt.XXXXXX")
  # Runs in its own shell: this trap unmounts and cleans up however it ends.
  cleanup() {
    if [[ -n "$pid" ]]; then
      mountpoint -q "$mnt" && { fusermount3 -u "$mnt" 2>/dev/null || umount "$mnt" 2>/dev/null || true; }
      n=0
      while kill -0 "$pid" 2>/dev/null && ((n < 100)); do sleep 0.1; n=$((n + 1)); done
      kill "$pid" 2>/dev/null || true
    fi
    rmdir "$mnt" 2>/dev/null || true
    rm -f "$image.tmp" "$image.counts.tmp"
  }
  trap cleanup EXIT
  trap 'exit 1' INT TERM
  set -e
  rm -f "$image" "$image.stamp" "$image.counts" "$image.tmp"
  truncate -s "${mib}M" "$image.tmp"
  mkntfs -F -Q -q -T -s 512 -L BENCH "$image.tmp" >/dev/null 2>&1
  ntfs-3g -o no_detach,big_writes "$image.tmp" "$mnt" >"$image.ntfs-3g.log" 2>&1 &
  pid=$!
  n=0
  until mountpoint -q "$mnt"; do
    if ! kill -0 "$pid" 2>/dev/null || ((n >= 100)); then
      cat "$image.ntfs-3g.log" >&2
      echo "ntfs-3g failed to mount $image.tmp" >&2
      exit 1
    fi
    sleep 0.1
    n=$((n + 1))
  done
  python3 - "$mnt" "$image.counts.tmp" "$top" "$each" "$files" "$delete_every" <<'PY'
import os, random, sys
mnt, counts = sys.argv[1], sys.argv[2]
top, each, files, delete_every = map(int, sys.argv[3:7])
rng = random.Random(2026)
block = rng.randbytes(1 << 16)
written, folders, total = [], 0, 0
for t in range(top):
    os.mkdir(os.path.join(mnt, "Project %02d" % t))
    folders += 1
    for s in range(each):
        folder = os.path.join(mnt, "Project %02d" % t, "Folder %02d" % s)
        os.mkdir(folder)
        folders += 1
        for f in range(files):
            size = rng.randint(100, 12000)
            start = rng.randrange(0, len(block) - size)
            path = os.path.join(folder, "document %05d.dat" % (s * files + f))
            with open(path, "wb") as out:
                out.write(block[start:start + size])
            written.append((path, size))
            total += size
deleted = deleted_bytes = 0
for i, (path, size) in enumerate(written, 1):
    if i % delete_every == 0:
        os.remove(path)
        deleted += 1
        deleted_bytes += size
with open(counts, "w") as out:
    out.write("folders\t%d\nfiles\t%d\nlive files\t%d\ndeleted files\t%d\nbytes\t%d\ndeleted bytes\t%d\n"
              % (folders, len(written), len(written) - deleted, deleted, total, deleted_bytes))
PY
  sync -f "$mnt"
  fusermount3 -u "$mnt" 2>/dev/null || umount "$mnt"
  if ! wait "$pid"; then
    pid=""
    cat "$image.ntfs-3g.log" >&2
    echo "ntfs-3g ended with an error while building $image" >&2
    exit 1
  fi
  pid=""
  rm -f "$image.ntfs-3g.log"
  mv "$image.counts.tmp" "$image.counts"
  mv "$image.tmp" "$image"
)
