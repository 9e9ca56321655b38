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

# Each sanitizer tree builds at low priority while the tests before it run: those mostly wait
# on real lines, clocks and browsers, and the machine would idle.
build_behind() {
    local dir=$1
    shift
    nice -n 19 "$top/scripts/build.sh" "$dir" "$@" >"$top/$dir.build.log" 2>&1
}
wait_for_build() {
    wait "$1" || { cat "$top/$2.build.log"; echo "building $2 failed"; exit 1; }
}

echo "== normal build"
"$top/scripts/build.sh" build
build_behind build-asan -DKX880_SANITIZE=ON &
asan_build=$!
ctest --test-dir "$top/build" --output-on-failure -j 2

echo "== sanitizer build (ASan + UBSan)"
wait_for_build "$asan_build" build-asan
build_behind build-tsan -DKX880_SANITIZE=thread &
tsan_build=$!
# The end-to-end scripts drive the same code as the in-process tests here, at the pace of
# real lines: they run in the normal build, and those of the poller's threads under the
# thread sanitizer.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$top/build-asan" --output-on-failure -j 2 -E '_end_to_end$|^mbpoll_'

echo "== thread sanitizer build (the poller, its outputs and their tests)"
wait_for_build "$tsan_build" build-tsan
CC=clang CXX=clang++ build_behind build-fuzz -DKX880_FUZZ=ON &
fuzz_build=$!
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir "$top/build-tsan" --output-on-failure -j 2

echo "== fuzzing (libFuzzer, 10 s per target)"
wait_for_build "$fuzz_build" build-fuzz
"$top/scripts/fuzz.sh" "${KX880_FUZZ_SECONDS:-10}"
