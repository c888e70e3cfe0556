#!/usr/bin/env bash
# The check of the test command that only db/ calls ODBC: no source file of the floors above
# it (tests aside) calls an ODBC function or includes an ODBC header. A run reaches the driver
# through its result cursor, a stop request cancels through it.
set -euo pipefail
cd "$(dirname "$0")/.."
floors=(export app settings job files run)
calls=$(grep -rnE '\bSQL[A-Z][A-Za-z]+\(' "${floors[@]}" --include=*.cpp --include=*.h |
  grep -v '_test\.' || true)
if [[ -n "$calls" ]]; then
  echo "check-odbc-calls: ODBC is called outside db/:" >&2
  echo "$calls" >&2
  exit 1
fi
headers=$(grep -rnE '^#include <(sql|sqlext|sqltypes|sqlucode|odbcinst)\.h>' "${floors[@]}" \
  --include=*.cpp --include=*.h | grep -v '_test\.' || true)
if [[ -n "$headers" ]]; then
  echo "check-odbc-calls: an ODBC header is included outside db/:" >&2
  echo "$headers" >&2
  exit 1
fi
echo "check-odbc-calls: only db/ calls ODBC"
