#!/usr/bin/env bash
# Static checks of the tree, after tools/test.sh has built build-ci:
#   - the include floors of src/ (tools/check_floors.py),
#   - clang-format in check mode over every C and C++ file,
#   - clang-tidy over src/ with the checks in .clang-tidy, on the compile
#     commands of the build.
# Fails on the first kind of check that finds something.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${NETSONDE_BUILD_DIR:-build-ci}
jobs=${NETSONDE_LINT_JOBS:-2}

echo "== include floors"
python3 tools/check_floors.py

echo "== clang-format"
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
echo "every file formatted"

echo "== clang-tidy"
if [[ ! -f $build/compile_commands.json ]]; then
    echo "no $build/compile_commands.json: build first (tools/test.sh)" >&2
    exit 1
fi
# The program's own sources; the helper is plain C with its own flags. CI
# checks the floors without widgets (the prober's HTTP endpoint among them)
# and the desktop's stand-ins, where a fault costs the most and a file
# parses fastest; NETSONDE_LINT_ALL=1 checks every folder (about twice the
# time).
if [[ ${NETSONDE_LINT_ALL:-0} == 1 ]]; then
    folders=(src)
else
    folders=(src/platform src/resolve src/echo src/files src/history src/alerts src/runs src/hosts src/paths src/probe
        src/desktop)
fi
mapfile -t sources < <(for f in "${folders[@]}"; do git ls-files "$f/*.cpp"; done | sed "s|^|$PWD/|")
run-clang-tidy -quiet -p "$build" -j "$jobs" "${sources[@]}" > "$build/clang-tidy.log" 2>&1 || {
    grep -E 'warning:|error:' "$build/clang-tidy.log" | sort -u >&2 || cat "$build/clang-tidy.log" >&2
    echo "clang-tidy found the faults above (full output: $build/clang-tidy.log)" >&2
    exit 1
}
echo "clang-tidy: ${#sources[@]} files clean"
