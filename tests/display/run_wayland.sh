#!/usr/bin/env bash
# The real program on a headless Wayland compositor, read and driven over
# AT-SPI inside a private session bus (nothing like xdotool reaches into a
# Wayland session).
#   run_wayland.sh <netsonde> <test module or test name> <screenshot folder>
# Exits 77 (skipped) when weston, Qt's Wayland plugin or the accessibility
# tools are missing.
set -uo pipefail
program=$1
tests=$2
shots=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/xvfb.sh"
needs weston dbus-run-session
[[ -x /usr/libexec/at-spi-bus-launcher ]] || { echo "skipped: at-spi2-core is missing"; exit 77; }
compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so" >/dev/null ||
    { echo "skipped: Qt's Wayland platform plugin (qt6-wayland) is missing"; exit 77; }
python=/usr/bin/python3
"$python" -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is missing"; exit 77; }

# The compositor's socket lives in a runtime folder of its own; the program
# is told its absolute path. Under load weston can take long to come up or
# give up: start it again.
runtime=$work/wayland
mkdir -m 0700 "$runtime"
socket=$runtime/wayland-netsonde
for attempt in 1 2 3; do
    XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --socket=wayland-netsonde \
        --idle-time=0 --width=1280 --height=1024 --use-pixman >"$work/weston.log" 2>&1 &
    pids+=($!)
    # Ready once the shell client is up: the desktop is drawn and windows
    # get placed.
    until_true sh -c "grep -q 'weston-desktop-shell' '$work/weston.log' && test -S '$socket' ||
        ! kill -0 $! 2>/dev/null"
    kill -0 $! 2>/dev/null && test -S "$socket" && break
    ((attempt < 3)) || fail "weston did not start: $(tail -n 5 "$work/weston.log")"
    kill "${pids[@]}" 2>/dev/null
    wait "${pids[@]}" 2>/dev/null
    pids=()
done

unset DISPLAY
export WAYLAND_DISPLAY=$socket NETSONDE_QPA_PLATFORM=wayland
# The headless compositor has no seat: Qt 6.4 then crashes when a text
# field draws its cursor unless no input method is loaded.
export QT_IM_MODULE=none
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0

shots=$shots/$tests
mkdir -p "$shots"
rm -f "$shots"/*.png
export PYTHONDONTWRITEBYTECODE=1
export NETSONDE_PROGRAM=$program NETSONDE_SHOTS=$shots NETSONDE_WORK=$work
cd "$here"
dbus-run-session -- "$python" -W ignore::DeprecationWarning -m unittest -v "$tests" 2>&1 | grep -v '^dbus-daemon\['
status=${PIPESTATUS[0]}
((status == 0)) || { echo "--- weston's log:"; tail -n 20 "$work/weston.log"; }
exit "$status"
