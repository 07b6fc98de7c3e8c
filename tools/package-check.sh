#!/usr/bin/env bash
# Builds the Debian package the way the README says and checks it: the
# launcher and the metadata validate, the package holds what a desktop
# program needs, lintian finds no error, and the program unpacked from it
# opens its window under a virtual X server and ends with status 0 when a
# window manager asks it to close (WM_DELETE_WINDOW).
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
packages=(dpkg-dev file desktop-file-utils appstream lintian xvfb xauth openbox wmctrl xdotool)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=${NETSONDE_PACKAGE_BUILD_DIR:-build-pkg}
step() { printf '\n== %s\n' "$*"; }

step "Release build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNETSONDE_TESTS=OFF -DNETSONDE_BENCH=OFF
cmake --build "$build" --parallel "$(nproc)" --target netsonde netsonde_manpage netsonde_changelog

step "desktop-file-validate"
desktop-file-validate packaging/netsonde.desktop

step "appstreamcli validate"
appstreamcli validate --no-net "$build/packaging/netsonde.metainfo.xml"

step "cpack -G DEB"
rm -f "$build"/netsonde_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/netsonde_*.deb)
deb=${debs[0]}
[[ -f $deb ]] || { echo "no package was built" >&2; exit 1; }
dpkg-deb --info "$deb"

step "Contents"
contents=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|')
echo "$contents"
app_id=$(sed -n 's|.*<id>\(.*\)</id>.*|\1|p' "$build/packaging/netsonde.metainfo.xml")
expected=(
    /usr/bin/netsonde
    /usr/share/applications/netsonde.desktop
    "/usr/share/metainfo/$app_id.metainfo.xml"
    /usr/share/icons/hicolor/scalable/apps/netsonde.svg
    /usr/share/man/man1/netsonde.1.gz
    /usr/share/doc/netsonde/copyright
    /usr/share/doc/netsonde/changelog.Debian.gz
)
for size in 16 32 48 64 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/netsonde.png")
done
for path in "${expected[@]}"; do
    grep -qxF "$path" <<<"$contents" || { echo "missing from the package: $path" >&2; exit 1; }
done
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6; do
    grep -q "\b$lib\b" <<<"$depends" || { echo "Depends lacks $lib: $depends" >&2; exit 1; }
done
[[ $(dpkg-deb --field "$deb" Section) == net ]] || { echo "section is not net" >&2; exit 1; }
echo "all ${#expected[@]} expected paths present; Depends: $depends"

step "lintian"
# Errors fail the check; warnings are printed and left to the reader.
lintian_out=$(lintian --allow-root "$deb" 2>&1 || true)
echo "${lintian_out:-(nothing to report)}"
if grep -q '^E: ' <<<"$lintian_out"; then
    echo "lintian reports errors" >&2
    exit 1
fi

step "Unpacked program under Xvfb"
scratch=$(mktemp -d)
xvfb_pid=
wm_pid=
app_pid=
cleanup() {
    for pid in $app_pid $wm_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap cleanup EXIT
dpkg -x "$deb" "$scratch/root"
program=$scratch/root/usr/bin/netsonde
[[ -x $program ]] || { echo "unpacked program missing" >&2; exit 1; }

exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 30 display <&"$display_fd" || { echo "Xvfb did not start" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
exec {display_fd}<&-
export DISPLAY=:$display
unset QT_QPA_PLATFORM
echo "Xvfb on $DISPLAY"

# A window manager, so that closing goes through WM_DELETE_WINDOW as on a desktop.
openbox --sm-disable >"$scratch/openbox.log" 2>&1 &
wm_pid=$!
timeout 30 bash -c 'until wmctrl -m >/dev/null 2>&1; do sleep 0.2; done' \
    || { echo "window manager did not start" >&2; exit 1; }

"$program" >"$scratch/netsonde.log" 2>&1 &
app_pid=$!
if ! window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Netsonde$' | head -n 1); then
    echo "no window titled Netsonde appeared" >&2
    cat "$scratch/netsonde.log" >&2
    exit 1
fi
echo "window $window: $(xwininfo -id "$window" | sed -n 's/^xwininfo: //p')"

# wmctrl asks the window manager (_NET_CLOSE_WINDOW), which sends the
# window WM_DELETE_WINDOW.
wmctrl -i -c "$window"
status=0
timeout 30 tail --pid="$app_pid" -f /dev/null || { echo "program did not end after the close request" >&2; exit 1; }
wait "$app_pid" || status=$?
app_pid=
cat "$scratch/netsonde.log"
if ((status != 0)); then
    echo "program ended with status $status" >&2
    exit 1
fi
echo "program closed with status 0"

step "package check passed"
