#!/usr/bin/env bash
# Sets everything up on Debian 12 and runs the whole test suite: installs
# what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs every test through ctest. Fails when a test fails or none ran.
# The network tests build their own namespaces and need root.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/deps.sh

build=${NETSONDE_BUILD_DIR:-build-ci}
# Line tables are all the sanitizers' reports need; full debug information
# costs a tenth more compile time and much more linking.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNETSONDE_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1
cmake --build "$build" --parallel "$(nproc)"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/.ci/lsan.supp:print_suppressions=0
ctest --test-dir "$build" --output-on-failure --no-tests=error --parallel 2
