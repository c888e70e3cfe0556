#!/usr/bin/env bash
# The formatting check of the test command: every C++ file of the tree is as clang-format
# (with the tree's .clang-format) writes it. Run `clang-format -i FILE` on a file it names.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format > /dev/null || { echo "check-format: clang-format is missing" >&2; exit 1; }
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "check-format: every C++ file is formatted"
