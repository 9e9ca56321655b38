#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: once in a normal build, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, the poller's threads under
# ThreadSanitizer, then a few seconds of fuzzing per target (longer runs: docs/reliability.md).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 0700 "$XDG_RUNTIME_DIR"

echo "== normal build"
"$top/scripts/build.sh" build
ctest --test-dir "$top/build" --output-on-failure -j 2

echo "== sanitizer build (ASan + UBSan)"
"$top/scripts/build.sh" build-asan -DKX880_SANITIZE=ON
# The fleet's minute-long run of MQTT and HTTP is the thread sanitizer's; here it would
# only repeat the normal build's.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$top/build-asan" --output-on-failure -j 2 -E '^fleet_end_to_end$'

echo "== thread sanitizer build (the poller, its outputs and their tests)"
"$top/scripts/build.sh" build-tsan -DKX880_SANITIZE=thread
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir "$top/build-tsan" --output-on-failure -j 2

echo "== fuzzing (libFuzzer, 15 s per target)"
"$top/scripts/fuzz.sh" "${KX880_FUZZ_SECONDS:-15}"
