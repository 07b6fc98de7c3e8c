#!/usr/bin/env bash
# Sets everything up on Debian 12, builds Netsonde (with the echo broker
# that sends its echo requests over raw sockets of its own where datagram
# ICMP sockets are refused) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETSONDE_TESTS=OFF -DNETSONDE_BENCH=OFF
cmake --build build --parallel "$(nproc)" --target netsonde icmp-helper
exec build/src/app/netsonde "$@"
