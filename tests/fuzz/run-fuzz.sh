#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build/fuzz and runs each for a short time
# (default 10 s; FUZZ_SECONDS overrides), starting from the seeds in tests/fuzz/corpus/<target>/.
# FUZZ_TARGETS (space-separated) picks some of them. Exits non-zero when a target crashes or a
# sanitizer reports; the input that did it is left in build/fuzz/artifacts/.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${FUZZ_BUILD:-$root/build/fuzz}
seconds=${FUZZ_SECONDS:-10}
all="fuzz_plist_attribute fuzz_tag_text fuzz_tag_format_old fuzz_md_query fuzz_recently_used
  fuzz_thumbnailer_file fuzz_thumbnail_cache_entry fuzz_trashinfo"
targets=${FUZZ_TARGETS:-$all}

cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DKELSO_FUZZ=ON >/dev/null
cmake --build "$build" -j2

mkdir -p "$build/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for target in $targets; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  dirs=("$corpus")
  [ -d "$root/tests/fuzz/corpus/$target" ] && dirs+=("$root/tests/fuzz/corpus/$target")
  echo "== $target (${seconds}s)"
  if ! "$build/$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$build/artifacts/$target-" "${dirs[@]}" 2>"$build/$target.log"; then
    echo "$target FAILED; see $build/$target.log"
    tail -40 "$build/$target.log"
    status=1
  else
    grep -E '^Done [0-9]+ runs' "$build/$target.log" | tail -1 || true
  fi
done
exit $status
