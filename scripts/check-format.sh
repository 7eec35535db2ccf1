#!/usr/bin/env bash
# Checks that the tracked C++ files under src/, tests/ and bench/ are formatted as .clang-format
# says. With no argument every file is checked; with a git revision (say origin/main) only the
# files changed since that revision are. Exits 1 and lists the files that differ, 2 on a usage
# error. Fix a file with `clang-format -i FILE`.
set -euo pipefail
cd "$(dirname "$0")/.."

CLANG_FORMAT="${CLANG_FORMAT:-clang-format}"
if ! command -v "$CLANG_FORMAT" >/dev/null; then
  echo "check-format: $CLANG_FORMAT not found (scripts/install-deps.sh installs it)" >&2
  exit 2
fi
if [ $# -gt 1 ]; then
  echo "usage: $0 [BASE-REVISION]" >&2
  exit 2
fi

pathspec=('src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
if [ $# -eq 1 ]; then
  if ! git rev-parse --verify --quiet "$1^{commit}" >/dev/null; then
      echo "check-format: $1 is not a revision" >&2
      exit 2
  fi
  # Added, copied, modified and renamed files: a deleted file has nothing to check.
  mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$1" -- "${pathspec[@]}")
else
  mapfile -t files < <(git ls-files -- "${pathspec[@]}")
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no C++ files to check"
  exit 0
fi

# One clang-format run for all files; it names each file at every line it would change.
set +e
report="$("$CLANG_FORMAT" --dry-run -Werror --style=file "${files[@]}" 2>&1)"
status=$?
set -e
mapfile -t bad < <(printf '%s\n' "$report" | sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: .*clang-format-violations.*/\1/p' | sort -u)
if [ $status -ne 0 ] && [ ${#bad[@]} -eq 0 ]; then
  # Failed without naming a badly formatted file: a broken .clang-format or an unreadable file.
  printf '%s\n' "$report" >&2
  exit 2
fi
if [ ${#bad[@]} -ne 0 ]; then
  echo "check-format: ${#bad[@]} of ${#files[@]} files are not formatted (clang-format -i FILE):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
