#!/usr/bin/env bash
# The program on a real X display with a window manager (twm):
# - with a tray host (trayer), minimising withdraws the window and embeds
#   the program's icon in the tray; a click on the icon maps the window again
#   and removes the icon;
# - without one, minimising leaves the window iconified, as usual.
#   tray_app_xvfb.sh <netsonde>
# Exits 77 (skipped) when Xvfb, twm, trayer or xdotool is missing.
set -uo pipefail
program=$1
source "$(dirname "$0")/../support/xvfb.sh"
needs Xvfb twm trayer xdotool xwininfo xprop
start_xvfb 1024x768
unset DBUS_SESSION_BUS_ADDRESS # the XEmbed tray, not a StatusNotifierItem host

printf 'RandomPlacement\nUsePPosition "on"\nNoTitleFocus\n' >"$work/twmrc"
for f in TitleFont ResizeFont MenuFont IconFont IconManagerFont; do echo "$f \"fixed\""; done >>"$work/twmrc"
LC_ALL=C twm -f "$work/twmrc" >"$work/twm.log" 2>&1 &
pids+=($!)

root=$(xwininfo -root | awk '/Window id:/ {print $4}')
main_window() {
    local w
    for w in $(xdotool search --name '^Netsonde$' 2>/dev/null); do
        xprop -id "$w" WM_CLASS 2>/dev/null | grep -q '"netsonde"' && { echo "$w"; return 0; }
    done
    return 1
}
viewable() { xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | awk '/window state:/ {print $3}'; }
# A viewable window of the program that a tray host has taken in.
embedded_icon() {
    local win parent
    for win in $(xdotool search --onlyvisible --classname netsonde 2>/dev/null); do
        parent=$(xwininfo -id "$win" -children | awk '/Parent window id:/ {print $4}')
        xwininfo -id "$win" | grep -q 'Width: [0-9]\{1,2\}$' || continue
        if [[ -n $parent && $parent != "$root" ]] && ! xprop -id "$parent" WM_STATE | grep -q window; then
            echo "$win"
            return 0
        fi
    done
    return 1
}
start_program() {
    # A window mapped while twm is still starting is never taken by it:
    # the program then starts again, up to three times.
    local attempt
    for attempt in 1 2 3; do
        "$program" >"$work/program.log" 2>&1 &
        program_pid=$!
        pids+=($program_pid)
        until_true main_window >/dev/null || fail "the window did not appear"
        win=$(main_window)
        until_true viewable "$win" || fail "the window was not mapped"
        managed() { [[ $(wm_state "$win") == Normal ]]; }
        until_true managed && return 0
        stop_program
        until_true eval '! main_window >/dev/null' || fail "the program did not end"
    done
    fail "the window manager did not take the window"
}
stop_program() {
    kill "$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
}

# --- without a tray host ---
start_program
xdotool windowminimize "$win"
iconic() { [[ $(wm_state "$win") == Iconic ]]; }
until_true iconic || fail "without a tray the window was not iconified (state $(wm_state "$win"))"
embedded_icon >/dev/null && fail "an icon appeared without a tray host"
sleep 0.5 # the window must stay iconified, not withdraw itself a moment later
iconic || fail "without a tray the window left the task bar (state $(wm_state "$win"))"
echo "no tray: the window stays iconified"
stop_program

# --- with trayer ---
trayer --edge bottom --widthtype request >"$work/trayer.log" 2>&1 &
pids+=($!)
until_true xdotool search --classname trayer >/dev/null || fail "trayer did not start"
start_program
xdotool windowminimize "$win"
unmapped() { ! viewable "$win" && [[ $(wm_state "$win") != Iconic ]]; }
until_true unmapped || fail "the window was not withdrawn (state $(wm_state "$win"))"
until_true embedded_icon >/dev/null || fail "the icon was not embedded in the tray"
icon=$(embedded_icon)
read -r x y w h < <(xwininfo -id "$icon" |
    awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
         /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
echo "tray: window withdrawn, icon at $x,$y size ${w}x$h"

xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
until_true viewable "$win" || fail "a click on the icon did not bring the window back"
gone() { ! embedded_icon >/dev/null; }
until_true gone || fail "the icon stayed in the tray"
echo "tray: a click brought the window back and removed the icon"
stop_program
exit 0
