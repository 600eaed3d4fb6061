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
