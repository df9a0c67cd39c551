#!/usr/bin/env bash
# Builds and runs the whole test suite, stage by stage:
#   format  clang-format check of every C/C++ file
#   host    x86-64 build and tests (build/)
#   run     the README's main command (scripts/run.sh): the core process
#           must come up and stop with status 0 on SIGTERM
#   mips    32-bit big-endian MIPS build, tests under qemu-mips (build-mips/)
#   asan    AddressSanitizer + UndefinedBehaviorSanitizer build and tests (build-asan/)
#   tsan    ThreadSanitizer build and tests (build-tsan/)
#   fuzz    every libFuzzer harness built with clang and run for a short
#           while (build-fuzz/; PC_FUZZ_SECONDS each, default 30)
# With no arguments it runs every stage (what CI runs); name
# stages to run only those, e.g. `scripts/test.sh mips`. Each stage prints
# the time it took. PC_JOBS sets the build parallelism (default 2).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cd "$root"
jobs=${PC_JOBS:-2}

# ccache (when installed) is wired in by CMakeLists.txt. Paths relative to
# the tree let a fresh clone reuse what another clone compiled.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

# Runs one stage; a failed stage is recorded and the next one still runs.
stage() { # name, command...
  local name=$1; shift
  local start=$SECONDS result=ok
  echo "=== stage: $name"
  ("$@") || { result=FAILED; failed+=("$name"); }
  local took=$((SECONDS - start))
  echo "=== stage: $name took ${took} s ($result)"
  summary+=("$(printf '%-6s %5d s  %s' "$name" "$took" "$result")")
}

# Stage bodies chain their steps with && / ||: they run in a `||` context,
# where `set -e` does not apply.
format_check() {
  local files
  files=$(git ls-files '*.cpp' '*.h' '*.c' 2>/dev/null || true)
  [ -n "$files" ] || return 0
  clang-format --dry-run --Werror $files
}

# Configures, builds and tests one preset of CMakePresets.json; the test
# log goes to <build>/ctest.log as well.
preset() { # name, build dir
  cmake --preset "$1" >/dev/null &&
    cmake --build --preset "$1" -j"$jobs" &&
    ctest --preset "$1" 2>&1 | tee "$2/ctest.log"
}

# Number of tests CTest knows in a build tree.
test_count() { (cd "$1" 2>/dev/null && ctest -N 2>/dev/null | sed -n 's/^Total Tests: //p'); }

host() { preset host build; }

mips() {
  local rc=0 total skipped host_total
  "$root/scripts/mips-deps.sh" || echo "mips: json-c and Mini-XML were not cross-built; their tests are left out"
  preset mips build-mips || rc=1
  # Tests that skip themselves under the emulator say why (label emulator-skips).
  total=$(test_count build-mips)
  skipped=$(grep -c '\*\*\*Skipped\|\*\*\*Not Run' build-mips/ctest.log 2>/dev/null || true)
  host_total=$(test_count build)
  echo "target: ${total:-0} tests, ${skipped:-0} of them skipped under the emulator; the host has ${host_total:-?}"
  return $rc
}

asan() { preset asan-ubsan build-asan; }

# The main command as a user runs it: it builds its own tree, the platform
# must say it is up within the limit, and SIGTERM must end it with status 0.
run_main() {
  local log=build-run.log limit=${PC_RUN_UP_SECONDS:-900} pid rc waited=0
  rm -f "$log"
  setsid bash scripts/run.sh </dev/null >"$log" 2>&1 &
  pid=$!
  until grep -q 'platform is up' "$log" 2>/dev/null; do
    if ! kill -0 "$pid" 2>/dev/null || ((waited >= limit)); then
      echo "run: the core process did not come up"; tail -40 "$log"
      kill -TERM "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
      return 1
    fi
    sleep 1; waited=$((waited + 1))
  done
  sleep 2
  kill -TERM "$pid"
  rc=0; wait "$pid" || rc=$?
  cat "$log" | grep '^axcored' || true
  echo "run: status $rc after SIGTERM"
  [ "$rc" -eq 0 ]
}

tsan() { preset tsan build-tsan; }

# Each harness runs from an empty corpus for a fixed time: a crash, an
# out-of-bounds read or a failed round trip stops the stage. Longer runs are
# done by hand (see fuzz/CMakeLists.txt).
fuzz() {
  local dir=build-fuzz seconds=${PC_FUZZ_SECONDS:-30} rc=0 h
  CC=clang CXX=clang++ cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPC_BUILD_FUZZ=ON \
      -DPC_BUILD_TESTS=OFF -DPC_BUILD_BENCH=OFF >/dev/null &&
    cmake --build "$dir" -j"$jobs" || return 1
  for h in "$dir"/fuzz/*_fuzz; do
    [ -x "$h" ] || continue
    local corpus="$dir/corpus/$(basename "$h")"
    mkdir -p "$corpus"
    local log="$dir/$(basename "$h").log"
    echo "--- $(basename "$h"): ${seconds} s"
    if "$h" -max_total_time="$seconds" -print_final_stats=1 "$corpus" >"$log" 2>&1; then
      grep -E '^stat::(number_of_executed_units|new_units_added)' "$log" || true
    else
      rc=1
      tail -40 "$log"
    fi
  done
  return $rc
}

summary=()
failed=()
stages=("$@")
((${#stages[@]})) || stages=(format host run mips asan tsan fuzz)
for s in "${stages[@]}"; do
  case $s in
    format) stage format format_check ;;
    run) stage run run_main ;;
    host | mips | asan | tsan | fuzz) stage "$s" "$s" ;;
    *) echo "unknown stage: $s (format, host, run, mips, asan, tsan, fuzz)" >&2; exit 2 ;;
  esac
done
echo "=== stage times"
printf '  %s\n' "${summary[@]}"
command -v ccache >/dev/null && ccache -s 2>/dev/null | grep -E '^ *(Hits|Misses):' | sed 's/^/  ccache /' || true
if ((${#failed[@]})); then
  echo "=== failed stages: ${failed[*]}"
  exit 1
fi
