#!/usr/bin/env bash
# Writes odbcinst.ini and odbc.ini into a folder, so that the station and its tests find
# their ODBC drivers and data sources without any system-wide configuration: point
# ODBCSYSINI at the folder (and ODBCINI at its odbc.ini).
#
#   scripts/odbc-ini.sh DIR [SQLITE_DB]
#
# Data sources written:
#   ds_sqlite  the SQLite order database SQLITE_DB (default DIR/orders.db)
#   ds_pg      a PostgreSQL server, when PG_PORT is set (PG_HOST, default 127.0.0.1;
#              PG_DB, default orders); user and password come from the station settings
set -euo pipefail
DIR=${1:?usage: odbc-ini.sh DIR [SQLITE_DB]}
mkdir -p "$DIR"
DIR=$(cd "$DIR" && pwd)
SQLITE_DB=${2:-$DIR/orders.db}
ODBC_LIB=${ODBC_LIB:-/usr/lib/x86_64-linux-gnu/odbc}

cat >"$DIR/odbcinst.ini" <<INI
[SQLite3]
Description=SQLite3 ODBC driver
Driver=$ODBC_LIB/libsqlite3odbc.so
Setup=$ODBC_LIB/libsqlite3odbc.so
UsageCount=1

[PostgreSQL Unicode]
Description=PostgreSQL ODBC driver (Unicode)
Driver=$ODBC_LIB/psqlodbcw.so
Setup=$ODBC_LIB/libodbcpsqlS.so
UsageCount=1
INI

{
  cat <<INI
[ds_sqlite]
Description=Order database (SQLite)
Driver=SQLite3
Database=$SQLITE_DB
BigInt=1
Timeout=2000
INI
  if [ -n "${PG_PORT:-}" ]; then
    cat <<INI

[ds_pg]
Description=Order database (PostgreSQL)
Driver=PostgreSQL Unicode
Servername=${PG_HOST:-127.0.0.1}
Port=$PG_PORT
Database=${PG_DB:-orders}
SSLmode=disable
INI
  fi
} >"$DIR/odbc.ini"
echo "$DIR"
