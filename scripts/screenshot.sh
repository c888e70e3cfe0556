#!/usr/bin/env bash
# Renders the window as a user sees it after listing the data sources, choosing the demo's
# data source and its customers table, and fetching it (without opening the result):
# docs/window.png at 100% scaling on a 1280x800 screen, and docs/window-150.png at 150% on a
# 1920x1200 screen, the smallest common screen that holds the whole window at that scale (on
# a smaller one, 1920x1080 among them, the window scrolls). The window runs on a screenless X
# server with the fonts of the machine; the data source is the demo database in a private
# ODBC configuration.
# Builds rowpress_screenshot in build-qt/ (or $BUILD_DIR) when needed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=${BUILD_DIR:-build-qt}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target rowpress_screenshot

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scripts/demo-odbc.sh "$work"
mkdir -p -m 0700 "$work/runtime"
mkdir -p docs

# shoot SCALE SCREEN OUTPUT
shoot() {
  ODBCSYSINI="$work" ODBCINI="$work/odbc-user.ini" ROWPRESS_HOME="$work/home" \
    XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$1" \
    xvfb-run -a -s "-screen 0 ${2}x24 -dpi 96" \
    "$build/rowpress_screenshot" "$3" rowpress-demo customers
  echo "$3"
}
shoot 1 1280x800 docs/window.png
shoot 1.5 1920x1200 docs/window-150.png
