#!/usr/bin/env bash
# Builds the station and the device simulator, makes (or reuses) the demo working folder
# demo/, starts devsim with its automatic operator in the background, then the station in
# demo/. devsim stops when the station ends.
#   DEMO_MODE=2    balances as Modbus slaves on one line (default 1: text frames, two ports)
#   DEMO_AUTO=0    no automatic operator: pour by hand through demo/devices/control
#   DEMO_DIR=...   another working folder;  BUILD_DIR=...  another build folder
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
scripts/install-deps.sh
scripts/build.sh
BUILD=$(cd "${BUILD_DIR:-build}" && pwd)
DEMO=${DEMO_DIR:-$ROOT/demo}
DEV=$DEMO/devices
mkdir -p "$DEV"
"$BUILD/demo-setup" "$DEMO" "$DEV" "${DEMO_MODE:-1}"
# The order database: a SQLite file with sample orders behind the ODBC data source ds_sqlite.
eval "$("$ROOT/scripts/odbc-demo.sh" "$DEMO")"

AUTO=(--auto "$DEMO")
if [ "${DEMO_AUTO:-1}" = 0 ]; then AUTO=(); fi
rm -f "$DEV/events.log"
"$BUILD/devsim" --dir "$DEV" --rate 10 "${AUTO[@]}" >"$DEV/devsim.out" 2>&1 </dev/null &
SIM=$!
trap 'kill "$SIM" 2>/dev/null || true; wait "$SIM" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  if grep -q ' ready ' "$DEV/events.log" 2>/dev/null; then break; fi
  if ! kill -0 "$SIM" 2>/dev/null; then echo "devsim did not start: see $DEV/devsim.out" >&2; exit 1; fi
  sleep 0.1
done
echo "devsim: pseudo-terminals in $DEV, events in $DEV/events.log, commands to $DEV/control"
cd "$DEMO"
"$BUILD/dyestation" "$@"
