#!/bin/bash
# Seeds the corpora of the search-log fuzz targets with real logs: ".ST4"
# logs saved by dravolin scan on the fixture images, ".ST2C" logs saved by
# dravolin lost and, when the app tests are given, the ".ST2C" log they
# write after a search for lost partitions.
# Usage: seed-search-log-corpus.sh DRAVOLIN FIXTURES APP_TESTS|"" CORPUS_ROOT
set -euo pipefail
dravolin=$1 fixtures=$2 app_tests=$3 corpus=$4
st4="$corpus/search_log_st4_fuzz" st2c="$corpus/search_log_st2c_fuzz"
mkdir -p "$st4" "$st2c"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_CONFIG_HOME="$home/config"
n=0
for choice in "fat12.img" "fat16.img" "fat32.img --exhaustive" "ntfs.img" "ntfs.img --exhaustive" "ntfs-full.img" \
  "mbr.img --partition 1" "demo.img --partition 2"; do
  set -- $choice
  image=$1
  shift
  n=$((n + 1))
  "$dravolin" scan "$fixtures/$image" "$@" -q --log-dir "$home" --save-log "$st4/seed$n" >/dev/null
done
# ".ST2C" logs of lost-partition searches over disks with partition tables,
# one of them with a lost boot sector.
n=0
for image in demo.img mbr.img gpt.img damaged/mbr-lost-boot.img; do
  [ -f "$fixtures/$image" ] || continue
  n=$((n + 1))
  "$dravolin" lost "$fixtures/$image" -q --log-dir "$home" --save-log "$st2c/lost$n.ST2C" >/dev/null
done
# The app tests are not part of the fuzz build: without them the ".ST2C"
# corpus starts from the logs above and the ".ST4" logs.
if [ -n "$app_tests" ] && [ -x "$app_tests" ]; then
  DRAVOLIN_LOG_SEEDS="$st2c" "$app_tests" --gtest_filter='SearchLogOperationsTest.AFoundList*' >/dev/null
fi
cp "$st4"/*.ST4 "$st2c"/
