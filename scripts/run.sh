#!/usr/bin/env bash
# Installs what is missing, builds and starts the console.
#   scripts/run.sh          with a simulated meter as COM1 (no hardware needed)
#   scripts/run.sh --meter  alone, for a real meter on a serial port
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
"$top/scripts/build.sh" build >/dev/null

console="$top/build/src/app/kx880"
if [ "${1:-}" = "--meter" ]; then
    exec "$console"
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
