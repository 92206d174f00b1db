#!/usr/bin/env bash
# Builds the station and starts it in the demo working folder demo/ (made on first use).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
scripts/install-deps.sh
scripts/build.sh
DEMO=${DEMO_DIR:-$ROOT/demo}
mkdir -p "$DEMO"
cd "$DEMO"
exec "$ROOT/build/dyestation"
