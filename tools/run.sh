#!/usr/bin/env bash
# Sets everything up on Debian 12, builds Netsonde and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNETSONDE_TESTS=OFF -DNETSONDE_BENCH=OFF
cmake --build build --parallel "$(nproc)"
if [[ -x build/src/app/netsonde ]]; then
    exec build/src/app/netsonde "$@"
fi
echo "The program is not part of the build yet; see README.md." >&2
