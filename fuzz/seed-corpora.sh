#!/usr/bin/env bash
# Seeds every fuzz target from the fixture images, into SEED_ROOT/<target>:
#
#   fuzz/seed-corpora.sh FIXTURES_DIR SEED_ROOT DRAVOLIN [APP_TESTS]
#
# The seeds are not kept as they are: fuzz/minimize-corpus.sh merges them
# into the committed corpora (fuzz/corpus/<target>), which `make fuzz`
# starts from and `make test` replays. `make fuzz-corpus` runs both.
set -euo pipefail
[[ $# -ge 3 ]] || { echo "usage: $0 FIXTURES_DIR SEED_ROOT DRAVOLIN [APP_TESTS]" >&2; exit 2; }
fixtures=$1 seeds=$2 dravolin=$3 app_tests=${4:-}
here=$(dirname "$0")
mkdir -p "$seeds"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Both NTFS fixtures: the plain one and the one with compressed files,
# attribute lists and large folders.
bash "$here/seed-ntfs-corpus.sh" "$fixtures/ntfs.img" "$seeds" >/dev/null
bash "$here/seed-ntfs-corpus.sh" "$fixtures/ntfs-full.img" "$work/ntfs-full" >/dev/null
for dir in "$work"/ntfs-full/*; do
  for f in "$dir"/*; do cp "$f" "$seeds/$(basename "$dir")/full-$(basename "$f")"; done
done
bash "$here/seed-gpt-corpus.sh" "$fixtures" "$seeds/gpt_fuzz"
bash "$here/seed-disk-corpus.sh" "$fixtures" "$seeds" >/dev/null
bash "$here/seed-search-log-corpus.sh" "$dravolin" "$fixtures" "$app_tests" "$seeds"
for dir in "$seeds"/*; do echo "$(basename "$dir"): $(ls "$dir" | wc -l) seeds"; done
