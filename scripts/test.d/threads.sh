#!/usr/bin/env bash
# The stop request on a ThreadSanitizer build in build-tsan/: the stop signals' handlers, the
# timeout's timer and the thread that cancels, stop a statement that the export is executing,
# in the real executable and in-process, against the PostgreSQL and MariaDB servers (the
# drivers that rowpress cancels from another thread). ctest starts and stops the servers as in
# the plain build. A unity build, as in the sanitizer stage, keeps the build short.
set -euo pipefail
cd "$(dirname "$0")/../.."
started=$(date +%s)

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
  -DROWPRESS_THREAD_SANITIZE=ON -DCMAKE_UNITY_BUILD=ON
cmake --build build-tsan -j2 --target rowpress_server_tests
built=$(date +%s)

export TSAN_OPTIONS="halt_on_error=0:second_deadlock_stack=1"
ctest --test-dir build-tsan --output-on-failure -R '^(servers\.(start|stop)|ServerStopTest\..*)$'
echo "thread sanitizer stage: build $((built - started)) s, tests $(($(date +%s) - built)) s"
