#!/usr/bin/env bash
# Builds the libFuzzer targets of the packet parsers and the echo broker's readers with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs each for
# NETSONDE_FUZZ_SECONDS (default 30) from its committed seed corpus, one per core at a time. Inputs
# the fuzzer finds go to a temporary folder; the committed corpus is only read.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${NETSONDE_FUZZ_SECONDS:-30}
build=${NETSONDE_FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" --parallel "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One fuzzer per core at a time: each is single-threaded.
fuzz() {
    local target=$1
    mkdir -p "$work/$target"
    "$build/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/$target-" "$work/$target" "tests/fuzz/corpus/$target" \
        >"$work/$target.log" 2>&1
}
targets=(RawPacket DatagramReply ErrorQueue Icmp6Message ErrorQueue6 BrokerMessage)
parallel=$(nproc)
failed=()
for ((i = 0; i < ${#targets[@]}; i += parallel)); do
    batch=("${targets[@]:i:parallel}")
    echo "fuzzing ${batch[*]} for ${seconds}s"
    pids=()
    for target in "${batch[@]}"; do
        fuzz "$target" &
        pids+=($!)
    done
    for j in "${!batch[@]}"; do
        if ! wait "${pids[j]}"; then
            tail -n 60 "$work/${batch[j]}.log" >&2
            failed+=("${batch[j]}")
        fi
    done
    for target in "${batch[@]}"; do
        printf '%s: ' "$target"
        grep -E '^stat::number_of_executed_units' "$work/$target.log" || echo
    done
done
if ((${#failed[@]})); then
    echo "fuzz targets failed: ${failed[*]}" >&2
    exit 1
fi
