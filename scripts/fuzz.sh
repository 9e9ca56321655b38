#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target]        (default 60)
#   scripts/fuzz.sh --runs N                    N executions per target instead
# New inputs go to a scratch corpus; the seed corpus in fuzz/corpus stays as it is. A crash
# leaves its input in build-fuzz/ and fails the run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
limit=(-max_total_time="${1:-60}")
[ "${1:-}" = "--runs" ] && limit=(-runs="$2")

CC=clang CXX=clang++ cmake -S "$top" -B "$top/build-fuzz" -DKX880_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build-fuzz" -j "$(nproc)" --target tick_fuzz sim_fuzz mbap_fuzz >/dev/null

for target in tick_fuzz sim_fuzz mbap_fuzz; do
    corpus=$(mktemp -d)
    seeds="$top/fuzz/corpus/${target%_fuzz}"
    echo "== $target (${limit[*]})"
    log="$top/build-fuzz/$target.log"
    status=0
    (cd "$top/build-fuzz" &&
        "./fuzz/$target" "${limit[@]}" -print_final_stats=1 -max_len=2048 "$corpus" "$seeds") >"$log" 2>&1 ||
        status=$?
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY|Test unit written)' "$log" || true
    rm -rf "$corpus"
    [ "$status" -eq 0 ] || { echo "$target found a failure"; exit 1; }
done
echo "fuzzing: 3 passed, 0 failed"
