#!/usr/bin/env bash
# Stops the throwaway PostgreSQL server of scripts/pg-start.sh and removes its folder.
set -euo pipefail
DIR=${1:?usage: pg-stop.sh DIR}
BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
[ -d "$DIR/data" ] || exit 0
AS=()
if [ "$(id -u)" -eq 0 ]; then AS=(runuser -u postgres --); fi
"${AS[@]}" "$BIN/pg_ctl" -D "$DIR/data" -m fast -w stop >/dev/null 2>&1 || true
rm -rf "$DIR"
