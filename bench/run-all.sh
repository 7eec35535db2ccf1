#!/usr/bin/env bash
# Runs every benchmark program of a build folder (default build/default) and prints its figures.
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
