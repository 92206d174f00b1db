#!/usr/bin/env bash
# Gives the demo working folder DIR an order database: a SQLite file DIR/orders.db with a
# vantrell table of sample orders (made once), the ODBC ini files in DIR/odbc naming it
# "ds_sqlite", and, in a set.txt that names no data source yet, the settings that use it
# (data source, table, receive folder = DIR, dye barcode search straight into the queue,
# polling timer on).
# Prints the lines that point ODBC at the ini files:
#
#   eval "$(scripts/odbc-demo.sh demo)"
#
# In the demo: scan DEMO-1001 or DEMO-1002 into the main window (prod_type 1 orders), or
# tick "粉體" in the settings window and the released POLL-2001..2003 queue themselves.
# DEMO-1003 is refused: its second line's weight "1,5" is not an amount of grams.
set -euo pipefail
DIR=${1:?usage: odbc-demo.sh DIR}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$DIR"
DIR=$(cd "$DIR" && pwd)
DB=$DIR/orders.db

if [ ! -s "$DB" ]; then
  sqlite3 "$DB" <<'SQL'
CREATE TABLE vantrell (seq INTEGER, id_no VARCHAR(40), prod_type INTEGER, out_pos VARCHAR(10),
  goods_kg REAL, step_no INTEGER, note3 VARCHAR(6), machine VARCHAR(10), code VARCHAR(20),
  color VARCHAR(10), recipe REAL, weight VARCHAR(10), unit VARCHAR(4), lot VARCHAR(10),
  remark VARCHAR(50), note VARCHAR(50));
INSERT INTO vantrell VALUES
 (1, 'DEMO-1001', 1, 'B1', 120, 0, '1', 'M1', 'R-101', 'red', 1.2, 12.5, 'g', 'L01', 'first', NULL),
 (2, 'DEMO-1001', 1, 'B1', 120, 0, '1', 'M1', 'Y-201', 'yellow', 0.3, 3.25, 'g', 'L01', NULL, NULL),
 (3, 'DEMO-1001', 1, 'B1', 120, 0, '1', 'M1', 'AUX-1', 'aux', 15, 1500, 'g', 'L01', NULL, NULL),
 (4, 'DEMO-1002', 1, 'B2', 80, 0, '1', 'M2', 'B-301', 'blue', 4.5, 45.6, 'g', 'L02', NULL, NULL),
 (5, 'DEMO-1002', 1, 'B2', 80, 0, '1', 'M2', 'K-401', 'black', 0.9, 8.8, 'g', 'L02', NULL, NULL),
 (6, 'POLL-2001', 2, 'B3', 60, 44, '1', 'M3', 'R-102', 'red', 0.1, 0.75, 'g', 'L03', NULL, NULL),
 (7, 'POLL-2001', 2, 'B3', 60, 44, '1', 'M3', 'Y-202', 'yellow', 2, 20, 'g', 'L03', NULL, NULL),
 (8, 'POLL-2001', 1, 'B3', 60, 44, '1', 'M3', 'AUX-1', 'aux', 25, 2500, 'g', 'L03', NULL, NULL),
 (9, 'POLL-2002', 2, 'B4', 90, 44, '1', 'M4', 'B-302', 'blue', 1, 10.5, 'g', 'L04', NULL, NULL),
 (10, 'POLL-2003', 2, 'B5', 40, 44, '1', 'M5', 'K-401', 'black', 0.3, 3.33, 'g', 'L05', NULL, NULL),
 (11, 'POLL-2003', 2, 'B5', 40, 44, '2', 'M5', 'AUX-1', 'aux', 12, 1200, 'g', 'L05', NULL, NULL);
SQL
fi

# DEMO-1003 has a weight written with a decimal comma: a scan of it is refused, with the
# line and the value on the status line (added to a database made by an earlier version too).
# The weights are text, as the plant keeps them: a REAL column would have the SQLite driver
# read "1,5" as 1 before the station sees it. A database with a REAL column is rebuilt so.
if [ "$(sqlite3 "$DB" "SELECT type FROM pragma_table_info('vantrell') WHERE name = 'weight'")" = REAL ]; then
  sqlite3 "$DB" <<'SQL'
BEGIN;
CREATE TABLE vantrell_text (seq INTEGER, id_no VARCHAR(40), prod_type INTEGER, out_pos VARCHAR(10),
  goods_kg REAL, step_no INTEGER, note3 VARCHAR(6), machine VARCHAR(10), code VARCHAR(20),
  color VARCHAR(10), recipe REAL, weight VARCHAR(10), unit VARCHAR(4), lot VARCHAR(10),
  remark VARCHAR(50), note VARCHAR(50));
INSERT INTO vantrell_text SELECT * FROM vantrell;
DROP TABLE vantrell;
ALTER TABLE vantrell_text RENAME TO vantrell;
COMMIT;
SQL
fi
sqlite3 "$DB" <<'SQL'
INSERT INTO vantrell SELECT * FROM (VALUES
 (12, 'DEMO-1003', 1, 'B6', 50, 0, '1', 'M6', 'R-103', 'red', 0.5, 5, 'g', 'L06', NULL, NULL),
 (13, 'DEMO-1003', 1, 'B6', 50, 0, '1', 'M6', 'Y-203', 'yellow', 0.15, '1,5', 'g', 'L06', NULL, NULL))
WHERE NOT EXISTS (SELECT 1 FROM vantrell WHERE id_no = 'DEMO-1003');
SQL

"$ROOT/scripts/odbc-ini.sh" "$DIR/odbc" "$DB" >/dev/null

# record N (1-based) of a 100-byte record file := VALUE (ASCII), padded with spaces
put_record() {
  printf '%-100s' "$3" | head -c 100 | dd of="$1" bs=100 seek=$(($2 - 1)) conv=notrunc status=none
}
SET=$DIR/set.txt
if [ -z "$(dd if="$SET" bs=100 count=1 status=none 2>/dev/null | tr -d ' \0')" ]; then
  touch "$SET"
  put_record "$SET" 1 ds_sqlite   # DataSourceName
  put_record "$SET" 4 1           # PollSeconds: Form1.Timer2 runs; tick a Check4 box to poll
  put_record "$SET" 7 "$DIR"      # ReceivePath: polled orders go to this station's queue
  put_record "$SET" 18 vantrell   # TableName
  put_record "$SET" 104 1         # Check1(1) DyeBarcode: the direct query of the order table
  put_record "$SET" 109 1         # Check3(2) DirectRun: a scanned order goes to the queue
fi
if [ ! -s "$DIR/set2_1.txt" ]; then
  put_record "$DIR/set2_1.txt" 1 15 # field count: fields 0..15
  put_record "$DIR/set2_1.txt" 2 1  # import mode 1: job records
fi

printf 'export ODBCSYSINI=%q ODBCINI=%q\n' "$DIR/odbc" "$DIR/odbc/odbc.ini"
