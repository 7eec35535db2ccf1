#!/usr/bin/env bash
# Runs every benchmark program of a build folder (default build/default) and prints its figures.
# Then the main-window benchmark (bench/window_bench.py: start-up against a minimal Qt window,
# resident memory with the grids filled, main-thread file access while scrolling) on its own
# Xvfb display; it takes about three minutes. KELSO_BENCH_SKIP_WINDOW=1 leaves it out.
set -euo pipefail
build=${1:-build/default}
found=0
for b in "$build"/bench/*_bench; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b"
done
[ $found -eq 1 ] || echo "no benchmark programs built in $build/bench"
if [ "${KELSO_BENCH_SKIP_WINDOW:-0}" != 1 ]; then
  if [ -x "$build/bin/kelso" ]; then
    echo "== window_bench.py"
    python3 "$(dirname "$0")/window_bench.py" --kelso "$build/bin/kelso"
  else
    echo "no kelso binary in $build/bin: window benchmark skipped"
  fi
fi
# The drop zone's CPU use while the pointer moves, with and without a drag (about a minute).
# KELSO_BENCH_SKIP_DROPZONE=1 leaves it out.
if [ "${KELSO_BENCH_SKIP_DROPZONE:-0}" != 1 ]; then
  if [ -x "$build/bin/kelso" ] && [ -x "$build/tests/e2e/kelso_drag_source" ]; then
    echo "== dropzone_bench.py"
    python3 "$(dirname "$0")/dropzone_bench.py" --kelso "$build/bin/kelso" \
      --drag-source "$build/tests/e2e/kelso_drag_source"
  else
    echo "no kelso or kelso_drag_source in $build: drop-zone benchmark skipped"
  fi
fi
