#!/usr/bin/env bash
# The check of the test command that only db/ calls ODBC: no file of the floors above it, their
# tests included, calls an ODBC function or includes an ODBC header, and db/'s public headers
# show no ODBC type. A run reaches the driver through its session and result cursor, a stop
# request cancels through the cursor. db/'s own headers of the handles are for db/ and for the
# tests against real servers, which look at the handles themselves.
set -euo pipefail
cd "$(dirname "$0")/.."
floors=(export app settings job files run)
internal='db/(odbc_handles|odbc_result_cursor|postgres_attributes)\.h'
fail() {
  echo "check-odbc-calls: $1:" >&2
  echo "$2" >&2
  exit 1
}
calls=$(grep -rnE '\bSQL[A-Z][A-Za-z]+\(' "${floors[@]}" --include=*.cpp --include=*.h || true)
[[ -z "$calls" ]] || fail "ODBC is called outside db/" "$calls"
headers=$(grep -rnE '^#include <(sql|sqlext|sqltypes|sqlucode|odbcinst)\.h>' "${floors[@]}" \
  --include=*.cpp --include=*.h || true)
[[ -z "$headers" ]] || fail "an ODBC header is included outside db/" "$headers"
public=$(grep -lE '^#include <(sql|sqlext|sqltypes|sqlucode|odbcinst)\.h>' db/*.h |
  grep -vE "^$internal$" || true)
[[ -z "$public" ]] || fail "a public header of db/ includes an ODBC header" "$public"
reached=$(grep -rnE "^#include \"$internal\"" . --include=*.cpp --include=*.h \
  --exclude-dir='build*' --exclude-dir=.git | grep -vE '^\./(db|tests/servers)/' || true)
[[ -z "$reached" ]] || fail "db/'s own headers of the handles are included outside db/" "$reached"
echo "check-odbc-calls: only db/ calls ODBC"
