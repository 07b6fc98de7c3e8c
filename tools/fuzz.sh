#!/usr/bin/env bash
# Builds the libFuzzer targets of the packet parsers and the echo broker's readers with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs each for
# NETSONDE_FUZZ_SECONDS (default 30) from its committed seed corpus. Inputs
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
for target in RawPacket DatagramReply ErrorQueue Icmp6Message ErrorQueue6 BrokerMessage; do
    mkdir -p "$work/$target"
    echo "fuzzing $target for ${seconds}s"
    if ! "$build/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/$target" "tests/fuzz/corpus/$target" \
        >"$work/$target.log" 2>&1; then
        tail -n 60 "$work/$target.log" >&2
        echo "fuzz target $target failed" >&2
        exit 1
    fi
    grep -E '^stat::number_of_executed_units' "$work/$target.log" || true
done
