#!/usr/bin/env bash
# The real program on a virtual X display with a window manager, driven by
# the Python tests of this folder over xdotool and AT-SPI inside a private
# session bus.
#   run_display.sh <netsonde> <test module or test name> <screenshot folder>
# NETSONDE_SCREEN sets the screen's size (1280x1024 by default).
# Exits 77 (skipped) when a tool is missing.
set -uo pipefail
program=$1
tests=$2
shots=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/xvfb.sh"
needs Xvfb openbox xdotool import convert dbus-run-session
[[ -x /usr/libexec/at-spi-bus-launcher ]] || { echo "skipped: at-spi2-core is missing"; exit 77; }
# The system's Python, where python3-pyatspi lives.
python=/usr/bin/python3
"$python" -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is missing"; exit 77; }

# Another test's X server starting at the same moment can take the display
# just chosen; the window manager then finds none, and all starts again.
for attempt in 1 2 3; do
    start_xvfb "${NETSONDE_SCREEN:-1280x1024}"
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    pids+=($!)
    until_true sh -c "xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
        ! kill -0 $! 2>/dev/null"
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    ((attempt < 3)) || fail "openbox did not start: $(tail -n 5 "$work/openbox.log")"
    kill "${pids[@]}" 2>/dev/null
    wait "${pids[@]}" 2>/dev/null
    pids=()
done

shots=$shots/$tests
mkdir -p "$shots"
rm -f "$shots"/*.png
export PYTHONDONTWRITEBYTECODE=1
export NETSONDE_PROGRAM=$program NETSONDE_SHOTS=$shots NETSONDE_WORK=$work
cd "$here"
dbus-run-session -- "$python" -W ignore::DeprecationWarning -m unittest -v "$tests" 2>&1 | grep -v '^dbus-daemon\['
exit "${PIPESTATUS[0]}"
