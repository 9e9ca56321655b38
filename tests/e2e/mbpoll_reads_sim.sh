#!/usr/bin/env bash
# An independent Modbus master (mbpoll) reads the simulator's measurement and parameter
# blocks and gets the registers the simulator was given.
set -euo pipefail
sim=$1
link=/tmp/kx880-mbpoll-$$
"$sim" --link "$link" --address 7 --pt 100 --ct 5 --wiring 3 --frozen \
    --set 0=22000 --set 4=0xFFFF --set 27=46811 >/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

read_regs() {  # start count
    mbpoll -m rtu -a 7 -b 9600 -P none -s 2 -0 -1 -r "$1" -c "$2" -t 4 -o 2 "$link" |
        sed -n 's/^\[\([0-9]*\)\]:[[:space:]]*\([-0-9]*\).*/\1 \2/p'
}

meas=$(read_regs 0 45)
param=$(read_regs 768 19)
fail=0
expect() {  # output register value
    if ! grep -qx "$2 $3" <<<"$1"; then
        echo "register $2: expected $3, got: $(grep "^$2 " <<<"$1" || echo nothing)"
        fail=1
    fi
}
expect "$meas" 0 22000
expect "$meas" 4 65535
expect "$meas" 27 46811
expect "$meas" 44 0
expect "$param" 768 7
expect "$param" 769 3
expect "$param" 775 100
expect "$param" 777 5
[ "$(wc -l <<<"$meas")" -eq 45 ] || { echo "measurement block: $(wc -l <<<"$meas") registers"; fail=1; }
[ $fail -eq 0 ] && echo "mbpoll read the simulator: 1 passed, 0 failed"
exit $fail
