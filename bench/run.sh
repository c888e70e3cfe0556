#!/usr/bin/env bash
# Builds rowpress, installs the benchmark's peers, and runs bench/run.py with these arguments.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh" time python3-pyodbc python3-xlsxwriter postgresql-15 odbc-postgresql
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$top/build" -j"$(nproc)" --target rowpress
exec python3 "$top/bench/run.py" "$@"
