#!/usr/bin/env bash
# Everything the tests need, on a fresh Debian 12 machine: installs the packages, builds
# rowpress and its tests in build/, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2

# The further stages, in this order: the same tests on an AddressSanitizer and
# UndefinedBehaviorSanitizer build, the stop request on a ThreadSanitizer build, the Debian
# package as a user gets it.
for stage in sanitize threads package; do
  echo "== scripts/test.d/$stage.sh"
  bash "scripts/test.d/$stage.sh"
done
