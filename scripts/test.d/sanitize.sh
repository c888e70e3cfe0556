#!/usr/bin/env bash
# The tests once more, on a build with AddressSanitizer (LeakSanitizer included) and
# UndefinedBehaviorSanitizer in build-asan/: the executable that the tests start as a child
# process is built the same way, so its faults fail the tests too. -O1 with line tables
# only keeps the second build short and the reports readable. The random-input tests run
# here with another start value than in the plain build (ROWPRESS_FUZZ_START overrides it;
# each test prints the one it used).
set -euo pipefail
cd "$(dirname "$0")/../.."
started=$(date +%s)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
  -DROWPRESS_SANITIZE=ON
# The executable and every test binary (rowpress_tests, rowpress_check_tests, the server
# tests when they are part of the build), but not the window's: Qt under the sanitizers
# would double this stage.
mapfile -t targets < <(ninja -C build-asan -t targets all |
  sed -n 's/^\(rowpress[a-z_]*_tests\): CXX_EXECUTABLE_LINKER.*/\1/p' | grep -vx rowpress_qt_tests)
targets+=(rowpress)
echo "sanitizer build of: ${targets[*]}"
cmake --build build-asan -j2 --target "${targets[@]}"
built=$(date +%s)

export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ROWPRESS_FUZZ_START="${ROWPRESS_FUZZ_START:-5150}"
# The window's tests are not built here; ctest lists them as a placeholder that would fail.
ctest --test-dir build-asan --output-on-failure -j2 -E '^rowpress_qt_tests_NOT_BUILT$'
echo "sanitizer stage: build $((built - started)) s, tests $(($(date +%s) - built)) s"
