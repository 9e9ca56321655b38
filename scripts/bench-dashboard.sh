#!/usr/bin/env bash
# The poller's round time with 50 live dashboard pages and a stuck one against none
# (docs/performance.md). Usage: scripts/bench-dashboard.sh [seconds per run]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" build-release -DCMAKE_BUILD_TYPE=Release >/dev/null
exec /usr/bin/python3 "$top/scripts/bench_dashboard.py" "$top/build-release/src/poll/kx880-poll" \
    "$top/build-release/sim/kx880-sim" "${1:-20}"
