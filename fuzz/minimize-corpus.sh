#!/usr/bin/env bash
# Minimizes the seeds of fuzz targets into their committed corpora: the
# inputs of SEED_ROOT/<target> and of the corpus already committed
# (fuzz/corpus/<target>) are merged into an empty folder with libFuzzer's
# -merge=1, which keeps the fewest, smallest inputs that reach the same
# coverage; that folder then replaces the committed corpus.
#
#   fuzz/minimize-corpus.sh FUZZ_BUILD_DIR SEED_ROOT [TARGET ...]   (default: every target built)
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: $0 FUZZ_BUILD_DIR SEED_ROOT [TARGET ...]" >&2; exit 2; }
build=$1 seeds=$2
shift 2
corpus_root=$(cd "$(dirname "$0")" && pwd)/corpus
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for f in "$build"/fuzz/*_fuzz; do targets+=("$(basename "$f")"); done
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
  mkdir -p "$work/$t" "$seeds/$t" "$corpus_root/$t"
  "$build/fuzz/$t" -merge=1 -max_len=1048576 -rss_limit_mb=4096 "$work/$t" "$corpus_root/$t" "$seeds/$t" \
    >"$work/$t.log" 2>&1 || { tail -n 20 "$work/$t.log" >&2; exit 1; }
  rm -rf "$corpus_root/$t"
  mv "$work/$t" "$corpus_root/$t"
  echo "$t: $(ls "$corpus_root/$t" | wc -l) inputs, $(du -sk "$corpus_root/$t" | cut -f1) KiB"
done
