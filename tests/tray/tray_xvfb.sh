#!/usr/bin/env bash
# The tray icon on a real X display: without a tray host Qt reports no
# notification area; with trayer running the icon is embedded into trayer's
# window, and a synthetic left click on it reaches OnClick.
#   tray_xvfb.sh <tray_probe>
# Exits 77 (skipped) when Xvfb, trayer or xdotool is missing.
set -uo pipefail
probe=$1
for tool in Xvfb trayer xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Polls a condition for up to 15 s.
until_true() {
    for _ in $(seq 150); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
until_true test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -n1 "$work/display")
export QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS # the XEmbed tray, not a StatusNotifierItem host
# Qt's xcb platform leaves a buffer of the system's D-Bus library behind at
# exit, and libxkbcommon-x11 hands strndup a counted name without a final
# zero, which strict string checks take for an overflow; our own code is
# checked with both on by the unit tests on offscreen.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0:strict_string_checks=0

answer=$("$probe" --available 2>/dev/null)
[[ $answer == "no tray" ]] || fail "without a tray host Qt reports: $answer"

trayer --edge bottom --widthtype request >"$work/trayer.log" 2>&1 &
pids+=($!)
available() { [[ $("$probe" --available 2>/dev/null) == "tray available" ]]; }
until_true available || fail "trayer did not take the notification area"

"$probe" >"$work/probe.out" 2>"$work/probe.err" &
probe_pid=$!
pids+=($probe_pid)
until_true grep -q '^embedded' "$work/probe.out" || fail "the icon was never placed"
read -r x y w h < <(awk '/^embedded/ {print $2, $3, $4, $5; exit}' "$work/probe.out")
echo "icon at $x,$y size ${w}x$h"

# The icon's window is no top-level window: the tray host has taken it in.
root=$(xwininfo -root | awk '/Window id:/ {print $4}')
inside=no
for win in $(xdotool search --onlyvisible --classname tray_probe); do
    parent=$(xwininfo -id "$win" -children | awk '/Parent window id:/ {print $4}')
    [[ -n $parent && $parent != "$root" ]] && inside=yes
done
[[ $inside == yes ]] || fail "the icon is not embedded in the tray host"

xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
for _ in $(seq 150); do
    kill -0 "$probe_pid" 2>/dev/null || break
    sleep 0.1
done
wait "$probe_pid"
rc=$?
grep -q '^click' "$work/probe.out" || fail "the click did not reach OnClick (exit $rc)"
[[ $rc -eq 0 ]] || fail "tray_probe ended with $rc"
echo "click reached OnClick"
