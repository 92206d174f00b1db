#!/usr/bin/env bash
# Scans at a scanner's pace (xdotool, 5 ms a character, closed by Enter) into the real
# station on a virtual screen, with the keyboard focus moved by Tab through every control
# of the main window, and counts the scans that became orders in the queue. Half of the
# scans carry a space (a lot number), which must press no button: no window opens, the
# queue is never emptied. The station runs in a fresh folder with the demo's order
# database and without devices (its start-up fails on the ports, which the scans do not
# need).
#   scripts/scan-check.sh [TABS]      TABS: how many Tab steps to scan after (default 30)
#   STATION=path/to/dyestation        another build of the station
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$(cd "${BUILD_DIR:-build}" && pwd)
STATION=${STATION:-$BUILD/dyestation}
TABS=${1:-30}
WORK=$(mktemp -d /tmp/scan-check.XXXXXX)
eval "$("$ROOT/scripts/odbc-demo.sh" "$WORK")"

DISPLAY_NO=$((90 + RANDOM % 100))
Xvfb ":$DISPLAY_NO" -screen 0 1400x800x24 >"$WORK/xvfb.out" 2>&1 &
XVFB=$!
export DISPLAY=":$DISPLAY_NO"
APP=""
cleanup() {
  if [ -n "$APP" ]; then kill "$APP" 2>/dev/null || true; fi
  kill "$XVFB" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1

cd "$WORK"
QT_QPA_PLATFORM=xcb "$STATION" >"$WORK/station.out" 2>&1 &
APP=$!
WIN=$(xdotool search --sync --onlyvisible --name '^dyestation$' | head -1)
xdotool windowfocus --sync "$WIN"
sleep 2

queued() { echo $(($(stat -c %s "$WORK/START_DISPEN.txt" 2>/dev/null || echo 0) / 1460)); }
windows() { xdotool search --onlyvisible --name '.' 2>/dev/null | wc -l; }
scan() {
  xdotool type --delay 5 "$1"$'\r' # Enter (CR) 5 ms after the last character
  sleep 1
}
# Waits up to 3 s more for the queue to grow past $1 (an order search may be slow).
settle() {
  for _ in $(seq 30); do
    if [ "$(queued)" -gt "$1" ]; then return; fi
    sleep 0.1
  done
}

WINDOWS=$(windows)
landed=0
lost=0
pressed=0
total=0
# One order scan and one scan with a space, with the focus where it is; $1 names it.
scan_here() {
  local before
  before=$(queued)
  scan "DEMO-100$((total % 2 + 1))"
  settle "$before"
  total=$((total + 1))
  if [ "$(queued)" -eq $((before + 1)) ]; then
    landed=$((landed + 1))
  else
    lost=$((lost + 1))
    echo "$1: the order scan was lost (queue $before -> $(queued)), screen lost-$total.png" >&2
    import -window root "$WORK/lost-$total.png" 2>/dev/null || true
  fi
  before=$(queued)
  scan "R-101 L2309"
  if [ "$(windows)" -ne "$WINDOWS" ] || [ "$(queued)" -lt "$before" ]; then
    pressed=$((pressed + 1))
    echo "$1: the scan with a space pressed something" >&2
    # What it opened is closed again, so that the next clicks reach the main window.
    for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
      if [ "$w" != "$WIN" ]; then
        echo "  window: $(xdotool getwindowname "$w")" >&2
        xdotool windowunmap --sync "$w" || true
      fi
    done
    xdotool windowfocus --sync "$WIN" || true
    WINDOWS=$(windows)
  fi
}
# The focus moved by Tab through the window's controls, from the start-up focus on.
for step in $(seq 0 "$TABS"); do
  if [ "$step" -gt 0 ]; then xdotool key Tab; fi
  sleep 0.2
  scan_here "tab step $step"
done
echo "after Tab: orders scanned $total, landed in the queue $landed, lost $lost; scans with a space that pressed a button or emptied the queue: $pressed"
# The focus put by a click (positions in the window as laid out at 1280 x 720; the weighing
# panel and the line boxes show once a job runs, which the scans above started). Check1 is
# clicked twice, so that barcode mode stays off.
for target in "List1 200 270" "List2 200 430" "EventList 200 620" "刷新 57 67" \
  "取消全部 243 67" "歸零 783 23" "Check1 14 144" "panel 700 420" "linebox 520 630"; do
  read -r name x y <<<"$target"
  clicks=1
  if [ "$name" = Check1 ]; then clicks=2; fi
  xdotool mousemove --window "$WIN" "$x" "$y" click --repeat "$clicks" --delay 300 1
  sleep 0.4
  t0=$total l0=$landed p0=$pressed
  for _ in 1 2 3; do scan_here "$name"; done
  echo "clicked $name: $((landed - l0)) of $((total - t0)) scans landed, $((pressed - p0)) scans with a space pressed something"
done
import -window root "$WORK/screen.png" 2>/dev/null || true
echo "in all: orders scanned $total, landed in the queue $landed, lost $lost"
echo "scans with a space that pressed a button or emptied the queue: $pressed of $total"
echo "screen: $WORK/screen.png"
