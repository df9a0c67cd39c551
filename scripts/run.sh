#!/usr/bin/env bash
# Builds the host tree and runs the core process of the simulated switch.
# Arguments are handed to axcored (e.g. --debug 1). Stop it with Ctrl-C.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
# The switch allows deeper message queues than a stock kernel (10 messages).
if [ -w /proc/sys/fs/mqueue/msg_max ] && [ "$(cat /proc/sys/fs/mqueue/msg_max)" -lt 1024 ]; then
  echo 1024 > /proc/sys/fs/mqueue/msg_max
fi
cmake -S "$root" -B "$root/build-run" -DPC_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-run" -j"$(nproc)" --target axcored >/dev/null
exec "$root/build-run/tools/axcored" "$@"
