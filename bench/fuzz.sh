#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, build-fuzz/) and runs each for a given time over its
# seed corpus in bench/fuzz/corpus/<target>. New inputs go to build-fuzz/fuzz-work/, any
# crashing input to build-fuzz/fuzz-findings/. Prints executions per target; fails when a
# target found something.
#   bench/fuzz.sh [seconds per target (default 60)] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_PER=${1:-60}
shift || true
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DDS_FUZZ=ON >/dev/null
fi

TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  for d in bench/fuzz/corpus/*/; do TARGETS+=("$(basename "$d")"); done
fi
if ! cmake --build "$BUILD" -j2 --target "${TARGETS[@]/#/fuzz_}" >"$BUILD/fuzz-build.log" 2>&1; then
  grep -E 'error|FAILED' "$BUILD/fuzz-build.log" | head -20
  echo "fuzz build failed (see $BUILD/fuzz-build.log)"
  exit 1
fi

mkdir -p "$BUILD/fuzz-findings"
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
failed=0
printf '%-12s %12s %10s %8s  %s\n' target executions exec/s corpus result
for t in "${TARGETS[@]}"; do
  work="$BUILD/fuzz-work/$t"
  mkdir -p "$work"
  log="$BUILD/fuzz-work/$t.log"
  set +e
  "$BUILD/fuzz_$t" -max_total_time="$SECONDS_PER" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$BUILD/fuzz-findings/$t-" "$work" "bench/fuzz/corpus/$t" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  n=$(find "$work" -type f | wc -l)
  result=ok
  if [ $rc -ne 0 ]; then
    result="FINDING (see $log)"
    failed=1
  fi
  printf '%-12s %12s %10s %8s  %s\n' "$t" "${execs:-?}" "${rate:-?}" "$n" "$result"
done
rm -rf /dev/shm/ds-fuzz-*
exit $failed
