#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for SECONDS each (default 60), one after another.
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

cmake --preset fuzz > /dev/null
cmake --build build/fuzz --target fuzz_all

# Scratch directories of the targets, removed at the end even when a finding ended a target abruptly.
FUZZ_SCRATCH_ROOT=$(mktemp -d /dev/shm/fuzz-run.XXXXXX 2>/dev/null || mktemp -d)
export FUZZ_SCRATCH_ROOT
trap 'rm -rf "$FUZZ_SCRATCH_ROOT"' EXIT

out=$PWD/build/fuzz/fuzz  # absolute: targets work in scratch directories of their own
failed=0
printf '%-18s %10s %8s %6s  %s\n' target executions exec/s units result
while read -r name dictionary; do
  [ -n "$name" ] || continue
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  work=$out/work/$name
  findings=$out/findings/$name
  mkdir -p "$work" "$findings"
  log=$out/logs/$name.log
  mkdir -p "$(dirname "$log")"
  options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -malloc_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$findings/")
  [ -n "$dictionary" ] && options+=(-dict="$dictionary")
  status=0
  nice "$out/bin/fuzz_$name" "${options[@]}" "$work" "$out/corpus/$name" < /dev/null > "$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  units=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -1)
  if [ "$status" -eq 0 ]; then
    result=clean
  else
    failed=1
    artifact=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
    result="FINDING (exit $status) ${artifact:-see $log}"
  fi
  printf '%-18s %10s %8s %6s  %s\n' "$name" "${runs:-?}" "${rate:-?}" "${units:-?}" "$result"
  [ "$status" -eq 0 ] || grep -m1 -E 'ERROR: |runtime error' "$log" | sed 's/^/    /' || true
done < "$out/targets.txt"
exit $failed
