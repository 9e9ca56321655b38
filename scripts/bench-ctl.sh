#!/usr/bin/env bash
# kx880-ctl's address scan against its per-probe floor (docs/performance.md); "all" sweeps
# the fifteen line settings (about 7 minutes).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/build.sh" build >/dev/null
exec /usr/bin/python3 "$top/scripts/bench_ctl.py" "$top/build/src/ctl/kx880-ctl" "$top/build/sim/kx880-sim" "$@"
