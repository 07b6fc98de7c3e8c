#!/usr/bin/env bash
# The tray icon on a real X display: without a tray host Qt reports no
# notification area; with trayer running the icon is embedded into trayer's
# window, and a synthetic left click on it reaches OnClick.
#   tray_xvfb.sh <tray_probe>
# Exits 77 (skipped) when Xvfb, trayer or xdotool is missing.
set -uo pipefail
probe=$1
source "$(dirname "$0")/../support/xvfb.sh"
needs Xvfb trayer xdotool xwininfo
start_xvfb 800x600
unset DBUS_SESSION_BUS_ADDRESS # the XEmbed tray, not a StatusNotifierItem host

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
