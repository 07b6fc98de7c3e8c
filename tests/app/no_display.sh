#!/usr/bin/env bash
# The program started where no display can be opened ends with one line
# that says why and status 1, never with Qt's abort: platform lists with
# nothing behind them, a display by name on this machine that nobody
# serves, and an X server that refuses the client (no cookie, as after
# sudo).
#   no_display.sh <netsonde>
# The refusing server is skipped without Xvfb, xauth or mcookie.
set -uo pipefail
program=$1
source "$(dirname "$0")/../support/xvfb.sh"
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY WAYLAND_SOCKET
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 0700 "$XDG_RUNTIME_DIR"

failed=0
# expect_one_line NAME VAR=VALUE...: the program, with those variables,
# writes one line and ends with status 1.
expect_one_line() {
    local name=$1
    shift
    env "$@" "$program" >"$work/out" 2>"$work/err" </dev/null
    local status=$? lines
    lines=$(cat "$work/out" "$work/err" | wc -l)
    if ((status == 1 && lines == 1)) && grep -q '^netsonde: no display to open: ' "$work/err"; then
        echo "ok: $name: $(cat "$work/err")"
    else
        echo "FAILED: $name: status $status, $lines line(s):"
        cat "$work/out" "$work/err"
        failed=1
    fi
}

expect_one_line "wayland;xcb without a display" "QT_QPA_PLATFORM=wayland;xcb"
expect_one_line "xcb;wayland without a display" "QT_QPA_PLATFORM=xcb;wayland"
# A port of this machine's that nothing listens on: display 70 is port 6070.
if ! (exec 3<>/dev/tcp/127.0.0.1/6070) 2>/dev/null; then
    expect_one_line "localhost:70 unserved" DISPLAY=localhost:70
    expect_one_line "xcb at localhost:70 unserved" QT_QPA_PLATFORM=xcb DISPLAY=localhost:70
fi

if command -v Xvfb >/dev/null && command -v xauth >/dev/null && command -v mcookie >/dev/null; then
    cookie=$work/cookie
    xauth -f "$cookie" add :0 . "$(mcookie)" 2>/dev/null
    Xvfb -displayfd 3 -auth "$cookie" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    pids+=($!)
    until_true test -s "$work/display" || fail "Xvfb did not start"
    refusing=:$(head -n1 "$work/display")
    expect_one_line "an X server that refuses the client" DISPLAY="$refusing" XAUTHORITY="$work/none"
    expect_one_line "wayland;xcb with a refusing X server" "QT_QPA_PLATFORM=wayland;xcb" \
        DISPLAY="$refusing" XAUTHORITY="$work/none"
else
    echo "skipped: the refusing X server needs Xvfb, xauth and mcookie"
fi
exit $failed
