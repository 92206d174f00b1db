#!/usr/bin/env bash
# The soak: 300 jobs (or the number given) weighed back to back by devsim's automatic
# operator, the station's logic timers ten times faster. About an hour for 300 jobs.
#   bench/soak.sh [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
scripts/build.sh >/dev/null
cd "$BUILD_DIR"
QTEST_FUNCTION_TIMEOUT=7200000 QT_QPA_PLATFORM=offscreen DS_BUILD_DIR=$(pwd) DS_SOURCE_DIR=$(cd .. && pwd) \
  DS_SOAK_JOBS=${1:-300} ./soak
