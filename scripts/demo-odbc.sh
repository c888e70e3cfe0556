#!/usr/bin/env bash
# Makes the demo's private ODBC configuration in DIR: the demo database (DIR/rowpress-demo.db,
# built from demo/demo.sql, again only when the script is newer), the SQLite3 driver in
# DIR/odbcinst.ini, the data source "rowpress-demo" in DIR/odbc.ini and an empty user file
# DIR/odbc-user.ini. Use it with ODBCSYSINI=DIR ODBCINI=DIR/odbc-user.ini.
#   scripts/demo-odbc.sh DIR
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dir=${1:?usage: demo-odbc.sh DIR}
mkdir -p "$dir"
db="$dir/rowpress-demo.db"
if [ ! -s "$db" ] || [ "$top/demo/demo.sql" -nt "$db" ]; then
  rm -f "$db"
  sqlite3 "$db" < "$top/demo/demo.sql" > /dev/null
fi
driver=$("$top/scripts/odbc-driver.sh" libsqlite3odbc.so)
cat > "$dir/odbcinst.ini" <<INI
[SQLite3]
Description=SQLite3 ODBC driver
Driver=$driver
INI
# StepAPI=1 lets the driver hand over one row at a time instead of the whole result;
# NoCreat=1 keeps a mistyped database path from creating an empty database.
cat > "$dir/odbc.ini" <<INI
[rowpress-demo]
Description=rowpress demo shop
Driver=SQLite3
Database=$db
StepAPI=1
NoCreat=1
INI
: > "$dir/odbc-user.ini"
