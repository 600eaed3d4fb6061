# Helpers shared by the benchmark scripts (sourced).

now() { date +%s.%N; }

# best_of N COMMAND...: the shortest wall time of N runs, in seconds. The
# command's output is dropped; a failing run still counts (the scripts check
# results separately).
best_of() {
  local runs=$1 best="" t0 t1 took
  shift
  for ((i = 0; i < runs; i++)); do
    t0=$(now)
    "$@" >/dev/null 2>&1 || true
    t1=$(now)
    took=$(echo "$t1 - $t0" | bc -l)
    if [[ -z "$best" ]] || (( $(echo "$took < $best" | bc -l) )); then best=$took; fi
  done
  echo "$best"
}

# evict IMAGE: drops the image's pages from the page cache, so that the next
# reader reads it from the disk.
evict() { dd if="$1" iflag=nocache count=0 status=none; }

# cold_best_of N IMAGE COMMAND...: best_of with the image evicted before
# each run (the cold-cache figure).
cold_best_of() {
  local runs=$1 image=$2 best="" t0 t1 took
  shift 2
  for ((i = 0; i < runs; i++)); do
    evict "$image"
    t0=$(now)
    "$@" >/dev/null 2>&1 || true
    t1=$(now)
    took=$(echo "$t1 - $t0" | bc -l)
    if [[ -z "$best" ]] || (( $(echo "$took < $best" | bc -l) )); then best=$took; fi
  done
  echo "$best"
}

# cold_line WHAT OURS_SECONDS CAT_SECONDS: the cold-cache line of a pass.
cold_line() {
  python3 - "$@" <<'PY'
import sys
what, ours, cat = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
ratio = ours / cat
print(f"{what + ' (cold)':<24} {ours * 1000:8.0f} ms   {'cat IMAGE (cold)':<16} {cat * 1000:8.0f} ms   "
      f"ratio {ratio:5.2f}x (target <= 1.3x) {'ok' if ratio <= 1.3 else 'ABOVE TARGET'}")
PY
}
