#!/usr/bin/env bash
# Runs every benchmark of bench/ and prints one table: each figure, its goal, and whether
# the goal is met. Exits 1 when a goal is missed (2 when a benchmark failed to run).
#   bench/run-all.sh            (builds build/ first, like scripts/build.sh)
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
scripts/build.sh >/dev/null || { echo "build failed"; exit 2; }
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

mapfile -t BENCHES < <(grep -ho 'add_executable(bench_[A-Za-z0-9_]*' bench/*/CMakeLists.txt | sed 's/add_executable(//' | sort -u)

rows=()
missed=0
broken=0
row() { # bench figure value goal verdict
  rows+=("$(printf '%-16s %-48s %14s  %-14s %s' "$1" "$2" "$3" "$4" "$5")")
  [ "$5" = MISSED ] && missed=$((missed + 1))
}
verdict() { # value goal [>=]: met or MISSED; a figure that is no number ("nan": nothing was
  # measured) misses its goal
  awk -v v="$1" -v g="$2" -v dir="${3:-<=}" 'BEGIN {
    if (v !~ /^-?[0-9]+(\.[0-9]+)?$/) print "MISSED"
    else print ((dir == ">=" ? v + 0 >= g + 0 : v + 0 <= g + 0) ? "met" : "MISSED") }'
}

# A figure: a number, or "nan"/"inf" as printf writes a figure of nothing measured.
num='(-?[0-9]+(\.[0-9]+)?|-?nan|-?inf)'
# "<what> [n N] median M ms worst W ms goal G ms", "<what> V unit goal <=|>= G unit",
# "<what>: ... latest V ms (goal G ms)"
re_timing="^(.+[^ ]) +(n +[0-9]+ +)?median +$num ms +worst +$num ms +goal +$num ms"
re_value="^(.+[^ ]) +$num ([A-Za-z/%]+) +goal ([<>]=) +$num ([A-Za-z/%]+)"
re_latest="^(.+)[,:] *latest $num ms \\(goal $num ms\\)"
for b in "${BENCHES[@]}"; do
  exe="$BUILD_DIR/$b"
  if [ ! -x "$exe" ]; then
    row "$b" "(not built)" "-" "-" "FAILED"
    broken=1
    continue
  fi
  out=$(cd "$BUILD_DIR" && "./$b" 2>/dev/null)
  rc=$?
  found=0
  while IFS= read -r line; do
    if [[ $line =~ $re_timing ]]; then
      # A timing with its median and its worst case: the goal holds for the worst.
      what=${BASH_REMATCH[1]}; med=${BASH_REMATCH[3]}; worst=${BASH_REMATCH[5]}; goal=${BASH_REMATCH[7]}
      what=$(sed -E 's/ +n +[0-9]+$//' <<<"$what")
      row "$b" "$what (median)" "$med ms" "" ""
      row "$b" "$what (worst)" "$worst ms" "<= $goal ms" "$(verdict "$worst" "$goal")"
      found=1
    elif [[ $line =~ $re_value ]]; then
      what=${BASH_REMATCH[1]}; v=${BASH_REMATCH[2]}; unit=${BASH_REMATCH[4]}; dir=${BASH_REMATCH[5]}; goal=${BASH_REMATCH[6]}
      row "$b" "$what" "$v $unit" "$dir $goal $unit" "$(verdict "$v" "$goal" "$dir")"
      found=1
    elif [[ $line =~ $re_latest ]]; then
      what=${BASH_REMATCH[1]}; v=${BASH_REMATCH[2]}; goal=${BASH_REMATCH[4]}
      row "$b" "$what, latest" "$v ms" "<= $goal ms" "$(verdict "$v" "$goal")"
      found=1
    elif [[ $line == *goal* ]]; then
      # A figure in a form this table does not know: shown as it stands.
      row "$b" "${line:0:48}" "?" "?" "$([[ $line =~ (MISSED|OVER|FAIL) ]] && echo MISSED || echo '?')"
      found=1
    fi
  done <<<"$out"
  if [ $found -eq 0 ] || { [ $rc -ne 0 ] && [ $rc -ne 1 ]; }; then
    row "$b" "(exit $rc, no figures)" "-" "-" "FAILED"
    broken=1
  fi
done

printf '%-16s %-48s %14s  %-14s %s\n' benchmark figure value goal result
printf '%s\n' "${rows[@]}"
echo
if [ $broken -ne 0 ]; then
  echo "a benchmark failed to run"
  exit 2
fi
if [ $missed -ne 0 ]; then
  echo "$missed goal(s) missed:"
  printf '%s\n' "${rows[@]}" | grep 'MISSED$' | sed 's/^/  /'
  exit 1
fi
echo "every goal met"
