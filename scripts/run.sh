#!/usr/bin/env bash
# Installs what is missing, builds and starts the console.
#   scripts/run.sh          with a simulated meter as COM1 (no hardware needed)
#   scripts/run.sh --meter  alone, for a real meter on a serial port
#   scripts/run.sh --fleet  kx880-poll and its dashboard over a simulated bus of four meters
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" build >/dev/null

console="$top/build/src/app/kx880"
if [ "${1:-}" = "--meter" ]; then
    exec "$console"
fi

# Four meters on one simulated bus, the one at 3 with its CT of phase B mounted backwards,
# read by kx880-poll with the wiring checks and the dashboard; both end together.
if [ "${1:-}" = "--fleet" ]; then
    bus="${TMPDIR:-/tmp}/kx880-bus-$$"
    "$top/build/sim/kx880-sim" --link "$bus" --address 1-4 --baud 19200 --current 3 \
        --wiring-fault 3:ct-reversed:B >/dev/null &
    sim=$!
    trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
    for _ in $(seq 50); do [ -e "$bus" ] && break; sleep 0.1; done
    [ -e "$bus" ] || { echo "the simulated bus did not start" >&2; exit 1; }
    echo "Simulated bus of meters 1-4 on $bus; meter 3's CT of phase B is reversed."
    echo "Open http://127.0.0.1:${KX880_HTTP_PORT:-8080}/ (Ctrl-C ends)"
    "$top/build/src/poll/kx880-poll" --port "$bus" --baud 19200 --address 1-4 --diagnose \
        --http "127.0.0.1:${KX880_HTTP_PORT:-8080}" --format csv --output /dev/null
    exit
fi

# The simulated meter on a pseudo-terminal, reached as COM1; it ends with the console.
link="${TMPDIR:-/tmp}/kx880-sim-$$"
"$top/build/sim/kx880-sim" --link "$link" --address 0 >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
[ -e "$link" ] || { echo "the simulated meter did not start" >&2; exit 1; }
echo "Simulated meter on $link as COM1 (address 0, 9600 bit/s, no parity): press 确定, then 运行."
KX880_COM1="$link" "$console"
