#!/usr/bin/env bash
# The main job on the bundled demo database: installs what is missing for it (only what
# building rowpress and the demo need, scripts/packages.d/demo.txt), builds rowpress,
# creates the demo SQLite database with a data source "rowpress-demo" in a private ODBC
# configuration (build/demo/, neither /etc nor the home directory), and exports the bundled
# job demo/demo.DIRU unattended to the default directory, printing where the file went.
#
#   scripts/demo.sh            the unattended export
#   scripts/demo.sh --window   the window, with the same data source
#   scripts/demo.sh ARGS...    rowpress with these arguments and the demo configuration
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"

scripts/install-deps.sh --demo
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF > /dev/null
cmake --build build -j"$(nproc)" --target rowpress

demo="$top/build/demo"
scripts/demo-odbc.sh "$demo"
export ODBCSYSINI="$demo" ODBCINI="$demo/odbc-user.ini"

if [ "${1:-}" = "--window" ]; then
  shift
  exec build/rowpress "-file=$top/demo/demo.DIRU" "$@"
elif [ "$#" -gt 0 ]; then
  exec build/rowpress "$@"
fi
status=0
path=$(build/rowpress -silent -noautoopen "-file=$top/demo/demo.DIRU") || status=$?
if [ "$status" -ne 0 ]; then
  echo "rowpress ended with exit status $status" >&2
  exit "$status"
fi
echo "The demo export went to: $path"
