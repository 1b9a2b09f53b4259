#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for SECONDS each (default 60), one after another
# unless FUZZ_JOBS=N asks for N at a time.
# Prints executions, new coverage units and findings per target; exits 1 when any target found something
# (a crash, a sanitizer report, a leak, a timeout or running out of memory). The corpus each target grows is
# kept under build/fuzz/fuzz/work/NAME and reused by the next run; findings are written to
# build/fuzz/fuzz/findings/NAME/ (reproduce with: build/fuzz/fuzz/bin/fuzz_NAME FILE).
#   scripts/fuzz.sh [SECONDS] [NAME...]   only the named targets when names are given
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds=${1:-60}
shift || true
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy SDL_RENDER_DRIVER=software
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/third_party_leaks.supp:print_suppressions=0}

cmake --preset fuzz > /dev/null
cmake --build build/fuzz --target fuzz_all

# Scratch directories of the targets, removed at the end even when a finding ended a target abruptly.
FUZZ_SCRATCH_ROOT=$(mktemp -d /dev/shm/fuzz-run.XXXXXX 2>/dev/null || mktemp -d)
export FUZZ_SCRATCH_ROOT
trap 'rm -rf "$FUZZ_SCRATCH_ROOT"' EXIT

out=$PWD/build/fuzz/fuzz  # absolute: targets work in scratch directories of their own
jobs=${FUZZ_JOBS:-1}

# Runs one target; writes its table line to $out/logs/NAME.result and exits with the fuzzer's status.
run_target() {
  local name=$1 dictionary=$2
  local work=$out/work/$name findings=$out/findings/$name log=$out/logs/$name.log
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  local options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -malloc_limit_mb=2048 -print_final_stats=1
                 -artifact_prefix="$findings/")
  [ -n "$dictionary" ] && options+=(-dict="$dictionary")
  local status=0
  nice "$out/bin/fuzz_$name" "${options[@]}" "$work" "$out/corpus/$name" < /dev/null > "$log" 2>&1 || status=$?
  local runs rate units result
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  units=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -1)
  if [ "$status" -eq 0 ]; then
    result=clean
  else
    local artifact
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    result="FINDING (exit $status) ${artifact:-see $log}"
  fi
  {
    printf '%-18s %10s %8s %6s  %s\n' "$name" "${runs:-?}" "${rate:-?}" "${units:-?}" "$result"
    [ "$status" -eq 0 ] || grep -m1 -E 'ERROR: |runtime error' "$log" | sed 's/^/    /' || true
  } > "$out/logs/$name.result"
  return "$status"
}

failed=0
running=0
printf '%-18s %10s %8s %6s  %s\n' target executions exec/s units result
while read -r name dictionary; do
  [ -n "$name" ] || continue
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  # FUZZ_JOBS targets at a time; each line is printed as its target ends.
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  ( status=0; run_target "$name" "$dictionary" || status=$?; cat "$out/logs/$name.result"; exit $status ) &
  running=$((running + 1))
done < "$out/targets.txt"
for ((; running > 0; running--)); do wait -n || failed=1; done
exit $failed
