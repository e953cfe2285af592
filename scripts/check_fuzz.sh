#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs each for a bounded time on a copy of its seed corpus. Fails when any target finds an input
# that breaks its invariant or trips a sanitizer, and names the reproducer.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${VELLORAN_FUZZ_SECONDS:-30}
build=build/fuzz
targets=(fuzz_document fuzz_cipher fuzz_profile fuzz_profile_int fuzz_seal fuzz_dictionary)

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DVELLORAN_FUZZ=ON -DVELLORAN_WERROR=ON -DVELLORAN_BUILD_BENCH=OFF >/dev/null
# fuzz_dictionary reads its dictionaries through the spelling helper, built beside it.
cmake --build "$build" --target "${targets[@]}" velloran-speller

work=$(mktemp -d "${TMPDIR:-/tmp}/velloran-fuzz-XXXXXX")
trap 'rm -rf "$work"' EXIT
artifacts="$build/tests/fuzz/crashes"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run() {
    local target=$1
    mkdir -p "$work/$target" "$artifacts/$target"
    cp -R "tests/fuzz/corpus/$target/." "$work/$target/"
    "$build/tests/fuzz/$target" "$work/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target/" >"$work/$target.log" 2>&1
}

# As many at once as there are processors; each runs for its full time all the same.
jobs=$(nproc)
failed=0
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
    pids=()
    batch=("${targets[@]:i:jobs}")
    for target in "${batch[@]}"; do
        run "$target" &
        pids+=($!)
    done
    for k in "${!batch[@]}"; do
        target=${batch[$k]}
        if wait "${pids[$k]}"; then
            runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$target.log" |
                   grep -o '[0-9]*$' || true)
            echo "$target: no failure in ${seconds} s (${runs:-?} runs)"
        else
            failed=1
            echo "$target: FAILED"
            tail -n 40 "$work/$target.log"
            for crash in "$artifacts/$target"/*; do
                [ -e "$crash" ] || continue
                echo "reproducer: $crash (keep it under tests/fuzz/crashes/$target/ to replay it)"
            done
        fi
    done
done
exit "$failed"
