#!/usr/bin/env bash
# Builds and runs the whole test suite: format check, host build and tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc)

stage() { # name, command...
  local name=$1; shift
  local start=$SECONDS
  echo "=== stage: $name"
  "$@"
  echo "=== stage: $name took $((SECONDS - start)) s"
}

format_check() {
  local files
  files=$(cd "$root" && git ls-files '*.cpp' '*.h' '*.c' 2>/dev/null || true)
  [ -n "$files" ] || return 0
  (cd "$root" && clang-format --dry-run --Werror $files)
}

host() {
  cmake -S "$root" -B "$root/build" -DPC_BUILD_BENCH=ON >/dev/null
  cmake --build "$root/build" -j"$jobs"
  (cd "$root/build" && ctest -j"$jobs" --output-on-failure --timeout 300)
}

stage format format_check
stage host host
