#!/usr/bin/env bash
# Runs each fuzz target for a bounded time on its seed corpus.
# Usage: fuzz/run.sh <fuzz build directory> <seconds per target> <target>...
set -euo pipefail
cd "$(dirname "$0")/.."

build=$1
seconds=$2
shift 2

# Nothing a target does may reach the machine's power interface or a display.
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# The targets' private directories go here, in memory when the machine has it, and go
# with the run even when a target is stopped by its time limit.
shm=/dev/shm
[ -d "$shm" ] || shm=${TMPDIR:-/tmp}
TMPDIR=$(mktemp -d "$shm/orvane-fuzz-run.XXXXXX")
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT

declare -A max_len=(
  [session_receive_fuzz]=16384
  [settings_fuzz]=8192
  [user_database_fuzz]=80000
)

status=0
for target in "$@"; do
  seeds=fuzz/corpus/$target
  # New inputs collect beside the build; the seed corpus in the tree is only read.
  work=$build/corpus/$target
  artifacts=$build/artifacts/$target/
  mkdir -p "$work" "$artifacts"
  echo "== $target: ${seconds}s"
  if ! "$build/$target" "$work" "$seeds" -max_total_time="$seconds" -timeout=20 \
      -rss_limit_mb=2048 -max_len="${max_len[$target]:-4096}" -print_final_stats=1 \
      -artifact_prefix="$artifacts" 2>"$build/$target.log"; then
    tail -n 60 "$build/$target.log"
    echo "== $target FAILED; the input is in $artifacts"
    status=1
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$build/$target.log" || true
  fi
done
exit $status
