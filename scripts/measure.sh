#!/usr/bin/env bash
# Measures the real console against the simulated meter under Xvfb: start-up time to the
# port dialog, the spread of the request intervals over 100 ticks at 9600 and 1200 bit/s,
# the console's CPU time per minute of polling, and its resident memory.
# Usage: scripts/measure.sh [ticks]   (needs xdotool; the figures go to stdout)
set -euo pipefail
[ -n "${KX880_TRACE:-}" ] && set -x
top=$(cd "$(dirname "$0")/.." && pwd)
ticks=${1:-100}
"$top/scripts/deps.sh"
command -v xdotool >/dev/null || apt-get install -y -qq xdotool >/dev/null
"$top/scripts/build.sh" build >/dev/null

measure_one() {  # baud period
    local baud=$1 period=$2 link=/tmp/kx880-measure-$$ log=/tmp/kx880-measure-$$.log
    "$top/build/sim/kx880-sim" --link "$link" --address 0 --baud "$baud" --verbose 2>"$log" >/dev/null &
    local sim=$!
    for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
    local t0 t1
    t0=$(date +%s%N)
    KX880_COM1=$link "$top/build/src/app/kx880" &
    local app=$!
    until xdotool search --onlyvisible --name "通讯设置" >/dev/null 2>&1; do sleep 0.01; done
    t1=$(date +%s%N)
    echo "start to port dialog: $(( (t1 - t0) / 1000000 )) ms"
    # 1200 bit/s: pick its radio (the second column of the dialog is parity).
    local dlg
    dlg=$(xdotool search --onlyvisible --name "通讯设置" | head -1)
    if [ "$baud" = 1200 ]; then
        xdotool mousemove --window "$dlg" 36 35 click 1  # the radio 1200bps
    fi
    xdotool mousemove --window "$dlg" 255 103 click 1  # 确定
    local win=""
    until [ -n "$win" ]; do win=$(xdotool search --onlyvisible --name "KX880" 2>/dev/null | head -1 || true); sleep 0.05; done
    sleep 0.5
    xdotool mousemove --window "$win" 510 185 click 1  # 运行
    local cpu0 cpu1 hz
    hz=$(getconf CLK_TCK)
    cpu0=$(awk '{print $14 + $15}' "/proc/$app/stat")
    local seconds=$(( ticks * period / 1000 + 1 ))
    sleep "$seconds"
    cpu1=$(awk '{print $14 + $15}' "/proc/$app/stat")
    echo "resident memory: $(awk '/VmRSS/ {print $2 / 1024 " MB"}' "/proc/$app/status")"
    awk -v c=$(( cpu1 - cpu0 )) -v hz="$hz" -v s="$seconds" \
        'BEGIN { printf "CPU: %.2f s per minute of polling (%.3f %% of a core)\n", c / hz * 60 / s, c / hz / s * 100 }'
    kill "$app"; wait "$app" 2>/dev/null || true
    kill "$sim"; wait "$sim" 2>/dev/null || true
    # Request arrival times at the meter: the intervals against the poll period.
    grep '] <-' "$log" | sed 's/^\[ *\([0-9.]*\)\].*/\1/' | awk -v p="$period" '
        NR > 1 { d = ($1 - last) * 1000; n++; sum += d; if (d < min || n == 1) min = d; if (d > max) max = d;
                 dev = (d - p) / p * 100; if (dev < 0) dev = -dev; if (dev > worst) worst = dev }
        { last = $1 }
        END { printf "%d intervals: mean %.1f ms, min %.1f, max %.1f, worst deviation %.2f %% of %d ms\n",
              n, sum / n, min, max, worst, p }'
    rm -f "$log"
}

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
run() {
    echo "== 9600 bit/s (period 500 ms)"; measure_one 9600 500
    echo "== 1200 bit/s (period 2000 ms)"; measure_one 1200 2000
}
if [ -n "${DISPLAY:-}" ]; then run; else
    exec xvfb-run -a -s "-screen 0 800x600x24 -noreset" "$0" "$@"
fi
