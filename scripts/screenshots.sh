#!/usr/bin/env bash
# Saves a PNG of every station window, and of the main window in every state of a weighed
# line, in Traditional (Language 0) and Simplified (Language 1) Chinese, at 1366x768 and
# 1920x1080, under Xvfb: scripts/screenshots.sh [folder] (default build/screenshots).
# The station runs in a temporary working folder with a small history month.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
OUT=${1:-$BUILD_DIR/screenshots}
if [ ! -x "$BUILD_DIR/ds_screenshots" ]; then
  cmake --build "$BUILD_DIR" --target ds_screenshots
fi
mkdir -p "$OUT"
for size in 1366x768 1920x1080; do
  for lang in 0 1; do
    xvfb-run -a -s "-screen 0 ${size}x24" "$BUILD_DIR/ds_screenshots" "$OUT" "$lang" "$size"
  done
done
