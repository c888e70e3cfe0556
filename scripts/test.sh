#!/usr/bin/env bash
# Everything the tests need, on a fresh Debian 12 machine: installs the packages, builds
# rowpress and its tests in build/, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2

# Further test stages (other builds of the same tests, longer checks) in scripts/test.d/.
for stage in scripts/test.d/*.sh; do
  [ -f "$stage" ] || continue
  echo "== $stage"
  bash "$stage"
done
