#!/usr/bin/env bash
# The tests once more, on a build with AddressSanitizer (LeakSanitizer included) and
# UndefinedBehaviorSanitizer in build-asan/: the executable that the tests start as a child
# process is built the same way, so its faults fail the tests too. It is also the build
# without the window, configured as if Qt were not installed: it shows that the command-line
# program and every core test need no Qt (ldd names no Qt library). -O1 with line tables
# only keeps the second build short and the reports readable, and so does a unity build
# (CMake compiles the sources of a target in batches, which halves the time spent on the
# test framework's headers); the plain build compiles each file on its own, so a file that
# misses an include still fails there. The random-input tests run here with another start
# value than in the plain build (ROWPRESS_FUZZ_START overrides it; each test prints the one it
# used).
set -euo pipefail
cd "$(dirname "$0")/../.."
started=$(date +%s)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
  -DROWPRESS_SANITIZE=ON -DROWPRESS_WINDOW=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON \
  -DCMAKE_UNITY_BUILD=ON
cmake --build build-asan -j2
built=$(date +%s)
if ldd build-asan/rowpress | grep -i 'libQt'; then
  echo "sanitizer stage: the build without the window links Qt" >&2
  exit 1
fi

export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# What the ODBC drivers leak themselves is theirs (see the file); the child processes that the
# tests start inherit it.
export LSAN_OPTIONS="suppressions=$PWD/scripts/test.d/driver-leaks.supp:print_suppressions=0"
export ROWPRESS_FUZZ_START="${ROWPRESS_FUZZ_START:-5150}"
# Left out here: the tests of the set-up script (shell, no rowpress code runs in them) and the
# read-backs by LibreOffice (minutes in the office suite for files whose writers the other
# tests run under the sanitizers); the plain build runs both.
ctest --test-dir build-asan --output-on-failure -j2 -E '^(InstallDepsTest|LibreOfficeWorkbookTest)\.'
echo "sanitizer stage: build $((built - started)) s, tests $(($(date +%s) - built)) s"
