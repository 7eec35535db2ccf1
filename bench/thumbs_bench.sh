#!/usr/bin/env bash
# Builds and runs the thumbnail benchmark: it generates its own images (4000×3000 JPEGs,
# 2000×2000 PNGs) and times Kelso's renderer (1 and 2 threads), vipsthumbnail and
# gdk-pixbuf-thumbnailer on them in one run, at 172 and 1024 pixels, plus a shared-cache hit.
# Usage: bench/thumbs_bench.sh [build-folder] [--files N]
set -euo pipefail
build=${1:-build/default}
shift || true
cmake --build "$build" --target thumbs_bench -j2 >/dev/null
for tool in vipsthumbnail gdk-pixbuf-thumbnailer; do
  command -v "$tool" >/dev/null || echo "note: $tool not installed (scripts/install-deps.sh installs it); its column shows -1"
done
exec "$build/bench/thumbs_bench" "$@"
