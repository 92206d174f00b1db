#!/usr/bin/env bash
# Builds the station and the device simulator, makes (or reuses) the demo working folder
# demo/, starts devsim with its automatic operator in the background, then the station in
# demo/. devsim stops when the station ends.
#   DEMO_MODE=2    balances as Modbus slaves on one line (default 1: text frames, two ports)
#   DEMO_AUTO=0    no automatic operator: pour by hand through demo/devices/control
#   DEMO_DIR=...   another working folder;  BUILD_DIR=...  another build folder
# The station's extensions (any of them writes demo/dyestation.ini afresh; the weighing log
# is on whenever that file exists):
#   DEMO_PICK=1    confirmed pick: devsim's scanner on demo/devices/scanner, and the
#                  automatic operator scans each container ("CODE|AUTO-n")
#   DEMO_LOG=pg    the weighing log on a PostgreSQL server started in demo/pg (default:
#                  the embedded data/weighings.db)
#   DEMO_MQTT=1    a mosquitto broker on 127.0.0.1:${DEMO_MQTT_PORT:-18830}, started beside
#                  devsim; watch it with mosquitto_sub -p 18830 -t 'dyestation/#' -v
#   DEMO_MARKS=first|header|modbus   devsim's balances send stability and overload marks in
#                  that form and the station reads them ([balance] marks); modbus goes with
#                  DEMO_MODE=2, first and header with mode 1
#   DEMO_TURNAROUND=MS  devsim's slaves answer after MS milliseconds (default 3)
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
if [ "${DEMO_PICK:-0}" = 1 ] && [ ${#AUTO[@]} -gt 0 ]; then AUTO+=(--auto-scan); fi
MARKS=(--marks "${DEMO_MARKS:-off}")
TURN=(--turnaround "${DEMO_TURNAROUND:-3}")

# The extensions' settings file, written whole and renamed into place.
BROKER=""
PGDIR=""
if [ "${DEMO_PICK:-0}" = 1 ] || [ -n "${DEMO_LOG:-}" ] || [ "${DEMO_MQTT:-0}" = 1 ] ||
  [ -n "${DEMO_MARKS:-}" ]; then
  INI=$DEMO/dyestation.ini
  {
    echo "[pick]"
    if [ "${DEMO_PICK:-0}" = 1 ]; then
      echo "confirm=true"
      echo "scanner_port=$DEV/scanner"
    else
      echo "confirm=false"
    fi
    echo "[log]"
    if [ "${DEMO_LOG:-}" = pg ]; then
      PGDIR=$DEMO/pg
      eval "$(DS_PG_PASSWORD=dsdemo "$ROOT/scripts/pg-start.sh" "$PGDIR")"
      echo "odbc=\"DRIVER=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so;SERVER=$DS_PG_HOST;PORT=$DS_PG_PORT;DATABASE=$DS_PG_DB;UID=$DS_PG_USER;PWD=$DS_PG_PASSWORD;SSLmode=disable\""
    else
      echo "odbc="
    fi
    echo "[mqtt]"
    if [ "${DEMO_MQTT:-0}" = 1 ]; then
      MQTT_PORT=${DEMO_MQTT_PORT:-18830}
      printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$MQTT_PORT" >"$DEV/mosquitto.conf"
      if [ "$(id -u)" = 0 ]; then echo "user root" >>"$DEV/mosquitto.conf"; fi
      /usr/sbin/mosquitto -c "$DEV/mosquitto.conf" >"$DEV/mosquitto.out" 2>&1 &
      BROKER=$!
      echo "host=127.0.0.1"
      echo "port=$MQTT_PORT"
      echo "station=demo"
    fi
    echo "[balance]"
    echo "marks=${DEMO_MARKS:-off}"
  } >"$INI.new"
  mv "$INI.new" "$INI"
  echo "extensions: $INI"
fi

rm -f "$DEV/events.log"
"$BUILD/devsim" --dir "$DEV" --rate 10 "${AUTO[@]}" "${MARKS[@]}" "${TURN[@]}" >"$DEV/devsim.out" 2>&1 </dev/null &
SIM=$!
cleanup() {
  kill "$SIM" 2>/dev/null || true
  wait "$SIM" 2>/dev/null || true
  if [ -n "$BROKER" ]; then kill "$BROKER" 2>/dev/null || true; fi
  if [ -n "$PGDIR" ]; then "$ROOT/scripts/pg-stop.sh" "$PGDIR" || true; fi
}
trap cleanup EXIT
for _ in $(seq 100); do
  if grep -q ' ready ' "$DEV/events.log" 2>/dev/null; then break; fi
  if ! kill -0 "$SIM" 2>/dev/null; then echo "devsim did not start: see $DEV/devsim.out" >&2; exit 1; fi
  sleep 0.1
done
echo "devsim: pseudo-terminals in $DEV, events in $DEV/events.log, commands to $DEV/control"
cd "$DEMO"
"$BUILD/dyestation" "$@"
