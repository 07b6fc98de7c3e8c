# A virtual X server for the tests that run on a real display. Source it,
# then call start_xvfb WIDTHxHEIGHT; every process put into pids is ended
# when the script exits, and the work folder removed.
#   needs Xvfb tool...   exits 77 (skipped) when a tool is missing
#   start_xvfb 1024x768  starts the server and exports DISPLAY
#   until_true cmd...    polls a condition for up to 15 s
#   fail text...         reports a failure and exits 1

needs() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
    done
}

work=$(mktemp -d)
pids=()
# The program keeps its history under the user's data folder: keep the
# tests' runs out of the real one.
export XDG_DATA_HOME="$work/data"
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

until_true() {
    for _ in $(seq 300); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

start_xvfb() {
    Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    pids+=($!)
    until_true test -s "$work/display" || fail "Xvfb did not start"
    export DISPLAY=:$(head -n1 "$work/display")
    export QT_QPA_PLATFORM=xcb
    # Qt's xcb platform leaves a buffer of the system's D-Bus library behind at
    # exit, and libxkbcommon-x11 hands strndup a counted name without a final
    # zero, which strict string checks take for an overflow; our own code is
    # checked with both on by the unit tests on offscreen.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0:strict_string_checks=0
}
