#!/usr/bin/env bash
# The core and its tests stand without the dialog: no file under the core's folders, their
# tests included, and no shared test helper includes a header of app/. (The build refuses such
# an include in the core's sources and in each floor's tests; this also covers the helpers of
# tests/support/, which the tests of app/ and from the outside could include without a refusal.)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
found=$(grep -rnE '^#include "app/' job files db settings export run tests/support || true)
if [ -n "$found" ]; then
  echo "These files of the core reach app/:" >&2
  echo "$found" >&2
  exit 1
fi
