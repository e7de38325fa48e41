#!/usr/bin/env bash
# Re-creates docs/main-window.png: the main window with a few activity rows, drawn under Xvfb
# in an isolated environment. Usage: scripts/screenshots-main.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent
cmake --build "$build" -j2 --target orvane_ui_tests
mkdir -p "$root/docs"
ORVANE_SCREENSHOT_DIR="$root/docs" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s '-screen 0 1024x768x24' \
  "$build/orvane_ui_tests" --gtest_filter='MainWindowScreenshot.*'
echo "wrote $root/docs/main-window.png"
