#!/usr/bin/env bash
# Grabs every page of the configuration sheet and the user dialogs into docs/sheet-*.png,
# running the widget tests' screenshot mode on a virtual X display.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja
fi
cmake --build "$build" -j2 --target orvane_ui_tests

mkdir -p "$root/docs"
timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" \
  env QT_QPA_PLATFORM=xcb ORVANE_SHEET_SCREENSHOTS="$root/docs" \
  "$build/orvane_ui_tests" --gtest_filter='SheetScreenshots.*'

ls -1 "$root"/docs/sheet-*.png
