#!/usr/bin/env bash
# Byte-exact carving against PhotoRec on the two carving fixtures: for each
# image, how many carved files equal a placed file byte for byte (their sha256
# is in the manifest), how many outputs there are in all, and the time taken.
# PhotoRec (testdisk) is a peer here, not a test dependency.
# Usage: bench/bench_exact_carve.sh BUILD_DIR FIXTURES_DIR
set -euo pipefail
build=$(readlink -f "$1")
fixtures=$(readlink -f "$2")
dravolin="$build/src/cli/dravolin"
command -v photorec >/dev/null || { echo "photorec (testdisk) is missing: scripts/install-deps bench" >&2; exit 77; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

count() {  # folder manifest -> "exact outputs"
  local exact=0 all=0 hash
  while IFS= read -r -d '' file; do
    all=$((all + 1))
    hash=$(sha256sum "$file" | cut -d' ' -f1)
    if cut -f4 "$2" | grep -qx "$hash"; then exact=$((exact + 1)); fi
  done < <(find "$1" -type f ! -name '*.txt' ! -name '*.json' -print0)
  echo "$exact $all"
}

printf '%-22s %-9s %7s %8s %8s %8s\n' image tool placed exact outputs seconds
for image in carving/carving.img modern-carving/modern-carving.img; do
  manifest="$fixtures/$image.manifest.tsv"
  placed=$(awk -F'\t' 'NR > 1 && $5 != "-"' "$manifest" | wc -l)
  t0=$(date +%s.%N)
  "$dravolin" carve "$fixtures/$image" --whole-disk --types all,modern --to "$out/d-${image%%/*}" --quiet \
    --log-dir "$out/logs" > /dev/null || true
  t1=$(date +%s.%N)
  read -r exact all < <(count "$out/d-${image%%/*}" "$manifest")
  printf '%-22s %-9s %7d %8d %8d %8.2f\n' "$(basename "$image")" dravolin "$placed" "$exact" "$all" "$(echo "$t1 - $t0" | bc -l)"
  t0=$(date +%s.%N)
  mkdir -p "$out/p-${image%%/*}"
  (cd "$out" && photorec /log /d "$out/p-${image%%/*}/recup" /cmd "$fixtures/$image" \
    partition_none,fileopt,everything,enable,search > /dev/null 2>&1 < /dev/null) || true
  t1=$(date +%s.%N)
  read -r exact all < <(count "$out/p-${image%%/*}" "$manifest")
  printf '%-22s %-9s %7d %8d %8d %8.2f\n' "$(basename "$image")" photorec "$placed" "$exact" "$all" "$(echo "$t1 - $t0" | bc -l)"
done
