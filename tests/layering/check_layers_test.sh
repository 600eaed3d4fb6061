#!/usr/bin/env bash
# The layer check must refuse an include that points upward and an engine
# header included by a front end, and accept the tree once they are gone.
#   check_layers_test.sh SOURCE_DIR GRAPH_FILE
set -euo pipefail
SOURCE_DIR="$1"
GRAPH="$2"
CHECK="$(dirname "$(readlink -f "$0")")/../../scripts/check-layers"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

expect_refusal() {  # FILE INCLUDE MESSAGE
  rm -rf "$work/src"
  cp -r "$SOURCE_DIR" "$work/src"
  printf '#include "%s"\n' "$2" >>"$work/src/$1"
  if python3 "$CHECK" "$work/src" "$GRAPH" 2>"$work/err"; then
    echo "FAIL: $1 including $2 was accepted" >&2
    exit 1
  fi
  grep -qF "$3" "$work/err" || { echo "FAIL: no '$3' in:" >&2; cat "$work/err" >&2; exit 1; }
}

expect_refusal partition/mbr.cpp results/saving.h "partition/mbr.cpp"
expect_refusal partition/mbr.cpp results/saving.h "partition/ may not include results/"
expect_refusal common/format.cpp disk/sector_reader.h "common/ may not include disk/"
expect_refusal cli/main.cpp fat/fat_search.h "cli/ may not include fat/"

# A link to a layer on the same floor is refused too.
printf 'fat partition entries logs raw\n' >"$work/graph"
grep -v '^fat ' "$GRAPH" >>"$work/graph"
if python3 "$CHECK" "$SOURCE_DIR" "$work/graph" 2>"$work/err"; then
  echo "FAIL: fat linking raw was accepted" >&2
  exit 1
fi
grep -qF "layer fat links raw, which is not on a lower floor" "$work/err"
echo "check-layers refuses upward includes"
