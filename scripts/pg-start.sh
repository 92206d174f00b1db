#!/usr/bin/env bash
# Starts a throwaway PostgreSQL server for the tests on loopback, on a free port, in the
# folder DIR (made anew), and prints the shell lines that tell the tests where it is:
#
#   eval "$(scripts/pg-start.sh /tmp/ds-pg)"   ...   scripts/pg-stop.sh /tmp/ds-pg
#
# The superuser "dsuser" logs in over TCP with the password in DS_PG_PASSWORD (it holds
# ';' and '}' on purpose, so the quoting of the ODBC connection string is always tested).
set -euo pipefail
DIR=${1:?usage: pg-start.sh DIR}
BIN=${PG_BIN:-/usr/lib/postgresql/15/bin}
PASSWORD=${DS_PG_PASSWORD:-'ds;pw}1'}
rm -rf "$DIR"
mkdir -p "$DIR"
DIR=$(cd "$DIR" && pwd)
AS=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres "$DIR"
  AS=(runuser -u postgres --)
fi
printf '%s\n' "$PASSWORD" >"$DIR/pwfile"
chmod 600 "$DIR/pwfile"
[ ${#AS[@]} -gt 0 ] && chown postgres "$DIR/pwfile"
"${AS[@]}" "$BIN/initdb" -D "$DIR/data" -U dsuser --pwfile="$DIR/pwfile" --auth-local=trust \
  --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$DIR/initdb.log" 2>&1
rm -f "$DIR/pwfile"
# A free port: nothing answers on it, and the server starts on it (another may take it
# between the two, so a failed start tries the next one).
started=0
for _ in $(seq 20); do
  PORT=$((20000 + RANDOM % 30000))
  if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then continue; fi
  if "${AS[@]}" "$BIN/pg_ctl" -D "$DIR/data" -l "$DIR/server.log" -w -t 30 \
    -o "-p $PORT -k $DIR -c listen_addresses=127.0.0.1 -c max_connections=60 -c fsync=off" start >/dev/null; then
    started=1
    break
  fi
done
if [ "$started" != 1 ]; then
  echo "pg-start.sh: the PostgreSQL server did not start, see $DIR/server.log" >&2
  exit 1
fi
"${AS[@]}" "$BIN/psql" -h "$DIR" -p "$PORT" -U dsuser -d postgres -qc "CREATE DATABASE orders" >/dev/null
printf 'export DS_PG_HOST=127.0.0.1 DS_PG_PORT=%s DS_PG_USER=dsuser DS_PG_DB=orders DS_PG_DIR=%q\n' "$PORT" "$DIR"
printf 'export DS_PG_PASSWORD=%q\n' "$PASSWORD"
