#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
ROOT=$(pwd)
# A throwaway PostgreSQL server on loopback for the order-intake tests (DS_PG_* tell them
# where it is); it is stopped and removed when the tests end.
PG_DIR=$(mktemp -d /tmp/ds-pg.XXXXXX)
trap '"$ROOT/scripts/pg-stop.sh" "$PG_DIR"' EXIT
eval "$(scripts/pg-start.sh "$PG_DIR")"
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 600 -j2
