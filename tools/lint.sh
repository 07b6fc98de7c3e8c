#!/usr/bin/env bash
# Static checks of the tree, after tools/test.sh has built build-ci:
#   - the include floors of src/ (tools/check_floors.py),
#   - clang-format in check mode over every C and C++ file,
#   - cmake-lint over every CMakeLists.txt and cmake/*.cmake, with the
#     settings in .cmake-format.py,
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

echo "== cmake-lint"
mapfile -t cmake_files < <(git ls-files 'CMakeLists.txt' '*/CMakeLists.txt' 'cmake/*.cmake')
cmake-lint --config-files .cmake-format.py --suppress-decorations -- "${cmake_files[@]}" || {
    echo "cmake-lint found the faults above" >&2
    exit 1
}
echo "cmake-lint: ${#cmake_files[@]} files clean"

echo "== clang-tidy"
if [[ ! -f $build/compile_commands.json ]]; then
    echo "no $build/compile_commands.json: build first (tools/test.sh)" >&2
    exit 1
fi
# Every folder of the program's own sources; the ICMP helper is plain C with
# its own flags and stays out.
mapfile -t sources < <(git ls-files 'src/*.cpp' ':!:src/icmphelper/*' | sed "s|^|$PWD/|")
run-clang-tidy -quiet -p "$build" -j "$jobs" "${sources[@]}" > "$build/clang-tidy.log" 2>&1 || {
    grep -E 'warning:|error:' "$build/clang-tidy.log" | sort -u >&2 || cat "$build/clang-tidy.log" >&2
    echo "clang-tidy found the faults above (full output: $build/clang-tidy.log)" >&2
    exit 1
}
echo "clang-tidy: ${#sources[@]} files clean"
