#!/usr/bin/env bash
# Runs every benchmark script (bench/bench_*.sh) in turn. Each compares our
# time against a peer on the same data in the same run and prints ratios.
# Usage: bench/run-benchmarks.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: run-benchmarks.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for script in "$here"/bench_*.sh; do
  [[ -e "$script" ]] || continue
  echo "== $(basename "$script")"
  bash "$script" "$build" || status=1
done
exit $status
