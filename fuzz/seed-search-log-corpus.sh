#!/bin/bash
# Seeds the corpora of the search-log fuzz targets with real logs: ".ST4"
# logs saved by dravolin scan on the fixture images, and the ".ST2C" log the
# app tests write after a search for lost partitions.
# Usage: seed-search-log-corpus.sh DRAVOLIN FIXTURES APP_TESTS CORPUS_ROOT
set -euo pipefail
dravolin=$1 fixtures=$2 app_tests=$3 corpus=$4
st4="$corpus/search_log_st4_fuzz" st2c="$corpus/search_log_st2c_fuzz"
mkdir -p "$st4" "$st2c"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_CONFIG_HOME="$home/config"
n=0
for choice in "fat12.img" "fat16.img" "fat32.img --exhaustive" "ntfs.img" "ntfs.img --exhaustive" "mbr.img --partition 1"; do
  set -- $choice
  image=$1
  shift
  n=$((n + 1))
  "$dravolin" scan "$fixtures/$image" "$@" -q --log-dir "$home" --save-log "$st4/seed$n" >/dev/null
done
# The app tests are not part of the fuzz build: without them the ".ST2C"
# corpus starts from the ".ST4" logs alone.
if [ -x "$app_tests" ]; then
  DRAVOLIN_LOG_SEEDS="$st2c" "$app_tests" --gtest_filter='SearchLogOperationsTest.AFoundList*' >/dev/null
fi
cp "$st4"/*.ST4 "$st2c"/
