#!/usr/bin/env bash
# Readings per second of kx880-poll against the line limit and against mbpoll in the same
# run, a round of 8 meters, CPU and memory (docs/performance.md).
# Usage: scripts/bench-poll.sh [seconds per run]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" build-release -DCMAKE_BUILD_TYPE=Release >/dev/null
exec /usr/bin/python3 "$top/scripts/bench_poll.py" "$top/build-release/src/poll/kx880-poll" \
    "$top/build-release/sim/kx880-sim" "${1:-10}"
