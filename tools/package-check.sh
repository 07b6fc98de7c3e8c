#!/usr/bin/env bash
# Builds the Debian package the way the README says and checks it: the
# launcher and the metadata validate, the package holds what a desktop
# program needs, lintian finds no error and no new warning, and the program
# unpacked from it opens its window under a virtual X server and ends with
# status 0 when a window manager asks it to close (WM_DELETE_WINDOW). As root it then
# installs the package and checks the privilege design: only the echo
# broker holds cap_net_raw, only the group netsonde may run it, a plugin
# that any user can make the program load finds no capability while the
# program still answers on raw sockets, a user outside the group gets the
# usual start-up box, an administrator's dpkg-statoverride is kept,
# purging leaves no file (and keeps the group), and a group netsonde that is
# not a system group is refused. The netsonde-probe package gets its own
# checks: what it holds, no Qt Gui or Widgets among its dependencies, its
# systemd unit verified, installed but not enabled, and the unit's way to
# ICMP: its hardening implies NoNewPrivileges, under which no file
# capability takes effect, so the prober must work on datagram ICMP
# sockets as an unprivileged user with no_new_privs, and end with status 3
# and its one line where they are refused.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
packages=(dpkg-dev file desktop-file-utils shared-mime-info appstream lintian xvfb xauth openbox wmctrl xdotool
    adduser libcap2-bin util-linux iproute2 qt6-base-dev)
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
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNETSONDE_TESTS=OFF -DNETSONDE_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$build" --parallel "$(nproc)" --target netsonde netsonde-probe netsonde_manpage netsonde_probe_manpage netsonde_changelog

step "desktop-file-validate"
desktop-file-validate packaging/netsonde.desktop

step "shared-mime-info"
# The database builder refuses a file that breaks the format.
mime_scratch=$(mktemp -d)
mkdir -p "$mime_scratch/mime/packages"
cp packaging/netsonde-mime.xml "$mime_scratch/mime/packages/netsonde.xml"
update-mime-database "$mime_scratch/mime" 2>&1 | grep -v -e 'not in the search path' -e '^$' \
    -e 'XDG_DATA' -e 'environment variables' -e 'able to find it' -e 'directories currently' \
    -e '^- ' || true
[[ -s $mime_scratch/mime/application/x-netsonde-session.xml && -s $mime_scratch/mime/text/x-netsonde-address-list.xml ]] \
    || { echo "the MIME types were not taken in" >&2; exit 1; }
rm -rf "$mime_scratch"

step "appstreamcli validate"
appstreamcli validate --no-net "$build/packaging/netsonde.metainfo.xml"

step "cpack -G DEB"
rm -f "$build"/netsonde_*.deb "$build"/netsonde-probe_*.deb
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
    /usr/lib/netsonde/icmp-helper
    /usr/share/applications/netsonde.desktop
    /usr/share/mime/packages/netsonde.xml
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
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 adduser libcap2-bin; do
    grep -q "\b$lib\b" <<<"$depends" || { echo "Depends lacks $lib: $depends" >&2; exit 1; }
done
# The helper that will hold a capability links nothing but the C library.
helper_needed=$(readelf -d "$build/src/app/icmp-helper" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[[ $helper_needed == libc.so.6 ]] || { echo "icmp-helper links more than libc: $helper_needed" >&2; exit 1; }
# The program runs the broker from the packaged path only. (An optimised
# build stores the short path through immediates, so the binary may not hold
# it as one string: the build's own definition is what is checked.)
grep -qF 'NETSONDE_INSTALLED_HELPER=\"/usr/lib/netsonde/icmp-helper\"' "$build/build.ninja" \
    || { echo "the program does not look for the broker in /usr/lib/netsonde" >&2; exit 1; }
[[ $(dpkg-deb --field "$deb" Section) == net ]] || { echo "section is not net" >&2; exit 1; }
echo "all ${#expected[@]} expected paths present; Depends: $depends"

step "lintian"
# Errors fail the check, and so does any warning but the one a package
# built outside Debian's archive always gets (its changelog closes no bug).
lintian_out=$(lintian --allow-root "$deb" 2>&1 || true)
echo "${lintian_out:-(nothing to report)}"
if grep -q '^E: ' <<<"$lintian_out"; then
    echo "lintian reports errors" >&2
    exit 1
fi
if grep '^W: ' <<<"$lintian_out" | grep -qv ' initial-upload-closes-no-bugs '; then
    echo "lintian reports a new warning" >&2
    exit 1
fi

step "netsonde-probe: contents, dependencies, unit"
probe_debs=("$build"/netsonde-probe_*.deb)
probe_deb=${probe_debs[0]}
[[ -f $probe_deb ]] || { echo "no netsonde-probe package was built" >&2; exit 1; }
dpkg-deb --info "$probe_deb"
probe_contents=$(dpkg-deb --contents "$probe_deb" | awk '{print $6}' | sed 's|^\./|/|')
echo "$probe_contents"
probe_unit=/usr/lib/systemd/system/netsonde-probe.service
for path in /usr/bin/netsonde-probe "$probe_unit" /etc/netsonde/probe.conf \
    /usr/lib/sysctl.d/60-netsonde-probe.conf /usr/share/man/man1/netsonde-probe.1.gz \
    /usr/share/doc/netsonde-probe/copyright; do
    grep -qxF "$path" <<<"$probe_contents" || { echo "missing from netsonde-probe: $path" >&2; exit 1; }
done
probe_depends=$(dpkg-deb --field "$probe_deb" Depends)
if grep -qE '\blibqt6(gui|widgets)6' <<<"$probe_depends"; then
    echo "netsonde-probe depends on Qt Gui or Widgets: $probe_depends" >&2
    exit 1
fi
probe_needed=$(readelf -d "$build/src/probe/netsonde-probe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
if grep -qE 'libQt6(Gui|Widgets)' <<<"$probe_needed"; then
    echo "netsonde-probe links Qt Gui or Widgets: $probe_needed" >&2
    exit 1
fi
dpkg-deb --ctrl-tarfile "$probe_deb" | tar -t | grep -qx './conffiles' \
    || { echo "netsonde-probe marks no conffiles" >&2; exit 1; }
probe_lintian=$(lintian --allow-root "$probe_deb" 2>&1 || true)
echo "${probe_lintian:-(lintian: nothing to report)}"
if grep -q '^E: ' <<<"$probe_lintian"; then
    echo "lintian reports errors for netsonde-probe" >&2
    exit 1
fi
probe_scratch=$(mktemp -d)
dpkg -x "$probe_deb" "$probe_scratch"
if command -v systemd-analyze >/dev/null; then
    # The unit as shipped, pointed at the unpacked program.
    sed "s|^ExecStart=/usr/bin/netsonde-probe|ExecStart=$probe_scratch/usr/bin/netsonde-probe|" \
        "$probe_scratch$probe_unit" >"$probe_scratch/netsonde-probe.service"
    systemd-analyze verify --man=no "$probe_scratch/netsonde-probe.service"
    echo "systemd-analyze verify: the unit is sound"
else
    echo "systemd-analyze is not installed: the unit is not verified" >&2
fi
# Settings that imply NoNewPrivileges (systemd.exec(5)).
nnp_settings='^(NoNewPrivileges=(yes|true|on|1)|DynamicUser=(yes|true|on|1)|SystemCallFilter=|SystemCallArchitectures=|RestrictAddressFamilies=|RestrictNamespaces=|PrivateDevices=(yes|true|on|1)|ProtectKernelTunables=(yes|true|on|1)|ProtectKernelModules=(yes|true|on|1)|ProtectKernelLogs=(yes|true|on|1)|ProtectClock=(yes|true|on|1)|MemoryDenyWriteExecute=(yes|true|on|1)|RestrictRealtime=(yes|true|on|1)|RestrictSUIDSGID=(yes|true|on|1)|LockPersonality=(yes|true|on|1))'
if grep -qE "$nnp_settings" "$probe_scratch$probe_unit"; then

    grep -qE '^net\.ipv4\.ping_group_range *= *0 2147483647$' \
        "$probe_scratch/usr/lib/sysctl.d/60-netsonde-probe.conf" \
        || { echo "the unit implies NoNewPrivileges but the package does not admit every group to ping sockets" >&2; exit 1; }
    echo "the unit implies NoNewPrivileges: the prober uses datagram ICMP sockets, which the package admits"
else

    grep -qE '^SupplementaryGroups=.*\bnetsonde\b' "$probe_scratch$probe_unit" \
        || { echo "the unit allows file capabilities but does not put the prober in the group netsonde" >&2; exit 1; }
    echo "the unit allows file capabilities: the prober may use the helper of the group netsonde"
fi
rm -rf "$probe_scratch"

step "Unpacked program under Xvfb"
scratch=$(mktemp -d)
xvfb_pid=
wm_pid=
app_pid=
installed_here=
cleanup() {
    for pid in $app_pid $wm_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
    done
    if [[ -n $installed_here ]]; then
        dpkg --purge netsonde >/dev/null 2>&1 || true
        dpkg-statoverride --remove /usr/lib/netsonde/icmp-helper >/dev/null 2>&1 || true
        if getent group netsonde >/dev/null; then groupdel netsonde || true; fi
    fi
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
# The program's history goes to the scratch folder, not the user's own.
export XDG_DATA_HOME=$scratch/data
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

helper=/usr/lib/netsonde/icmp-helper
if [[ $(id -u) -ne 0 ]]; then
    echo "the installed package's privileges are checked only as root: skipped" >&2
elif dpkg-query -W -f='${Status}' netsonde 2>/dev/null | grep -q "install ok installed"; then
    echo "netsonde is installed on this machine; the installation checks would replace it: skipped" >&2
else
    step "Installed: the group, the helper and its capability"
    installed_here=1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$(realpath "$deb")" >/dev/null
    gid=$(getent group netsonde | cut -d: -f3)
    [[ -n $gid ]] || { echo "the group netsonde was not created" >&2; exit 1; }
    ((gid < 1000)) || { echo "netsonde is not a system group (gid $gid)" >&2; exit 1; }
    [[ $(stat -c '%U:%G %a' "$helper") == "root:netsonde 750" ]] \
        || { echo "helper is $(stat -c '%U:%G %a' "$helper"), not root:netsonde 750" >&2; exit 1; }
    [[ $(getcap "$helper") == "$helper cap_net_raw=ep" ]] \
        || { echo "helper capability: $(getcap "$helper")" >&2; exit 1; }
    # No other file of the package, least of all one that links Qt, carries one.
    with_caps=$(dpkg -L netsonde | xargs -d '\n' getcap 2>/dev/null | grep -v "^$helper " || true)
    [[ -z $with_caps ]] || { echo "files with capabilities: $with_caps" >&2; exit 1; }
    echo "group netsonde ($gid); $(stat -c '%U:%G %a' "$helper") $(getcap "$helper")"

    step "Group member: a user's plugin finds no capability; Check One answers on raw sockets"
    cmake -S tests/package -B "$build/probe" -G Ninja >/dev/null
    cmake --build "$build/probe" >/dev/null
    mkdir -p "$scratch/plugins" "$scratch/run"
    cp -r "$build/probe/generic" "$scratch/plugins/"
    chmod -R a+rX "$scratch"
    chown nobody "$scratch/run"
    chmod 0700 "$scratch/run"
    # Runs the installed program as nobody with the given groups, in a network
    # namespace of its own where datagram ICMP sockets are refused.
    run_probe() { # report-file groups...
        local report=$1
        shift
        : >"$report"
        chown nobody "$report"
        unshare --net bash -c '
            ip link set lo up
            echo "1 0" >/proc/sys/net/ipv4/ping_group_range
            exec setpriv --reuid=nobody --regid=nogroup "$@" --inh-caps=-all -- \
                env -i HOME=/nonexistent XDG_RUNTIME_DIR='"$scratch/run"' XDG_DATA_HOME='"$scratch/run"' \
                QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH='"$scratch/plugins"' \
                QT_QPA_GENERIC_PLUGINS=netsondeprobe NETSONDE_PROBE_CHECK=1 \
                NETSONDE_PROBE_REPORT='"$report"' timeout 60 /usr/bin/netsonde' \
            probe "$@"
    }
    member_status=0
    run_probe "$scratch/member.txt" --groups=netsonde || member_status=$?
    cat "$scratch/member.txt"
    ((member_status == 0)) || { echo "the program ended with status $member_status" >&2; exit 1; }
    for set in CapInh CapPrm CapEff CapAmb; do
        if grep -E "^(LOADED|THREAD) " "$scratch/member.txt" | grep -vq "$set: 0000000000000000"; then
            echo "a thread of the program holds $set" >&2
            exit 1
        fi
    done
    grep -qx "PACKET refused Operation not permitted" "$scratch/member.txt" \
        || { echo "the plugin was not refused a packet socket" >&2; exit 1; }
    grep -q "^RESULT .*bytes received from 127\.0\.0\.1.*Rcvd/Sent: 1/1" "$scratch/member.txt" \
        || { echo "Check One of 127.0.0.1 did not answer" >&2; exit 1; }

    step "Outside the group: no raw sockets, the usual start-up box"
    outsider_status=0
    run_probe "$scratch/outsider.txt" --clear-groups || outsider_status=$?
    cat "$scratch/outsider.txt"
    grep -q "^BOX Unable to find icmp.dll | .*sudo adduser nobody netsonde$" "$scratch/outsider.txt" \
        || { echo "no start-up box for a user outside the group" >&2; exit 1; }
    ((outsider_status == 3)) || { echo "Abort in the box ended the program with $outsider_status" >&2; exit 1; }
    grep -E "^LOADED " "$scratch/outsider.txt" | grep -vq "CapEff: 0000000000000000" \
        && { echo "the outsider's program holds a capability" >&2; exit 1; }

    step "Purge leaves nothing behind; an administrator's statoverride is kept"
    files=$(dpkg -L netsonde)
    dpkg --purge netsonde >/dev/null
    left=
    for f in $files /usr/lib/netsonde; do
        if [[ -e $f && ( -f $f || $f == /usr/lib/netsonde ) ]]; then left+=" $f"; fi
    done
    [[ -z $left ]] || { echo "left after purge: $left" >&2; exit 1; }
    # The group stays: overrides or files may still name it.
    getent group netsonde >/dev/null || { echo "the purge removed the group netsonde" >&2; exit 1; }
    dpkg-statoverride --add root root 0700 "$helper"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$(realpath "$deb")" >/dev/null
    [[ $(stat -c '%U:%G %a' "$helper") == "root:root 700" && -z $(getcap "$helper") ]] \
        || { echo "the override was not kept: $(stat -c '%U:%G %a' "$helper") $(getcap "$helper")" >&2; exit 1; }
    dpkg --purge netsonde >/dev/null
    dpkg-statoverride --remove "$helper"

    step "A non-system group netsonde is not adopted"
    groupdel netsonde
    groupadd --gid 4242 netsonde
    adopt_status=0
    adopt_out=$(DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$(realpath "$deb")" 2>&1) \
        || adopt_status=$?
    grep -q "exists already and is not a system group" <<<"$adopt_out" \
        || { echo "no clear refusal of a user's group netsonde: $adopt_out" >&2; exit 1; }
    ((adopt_status != 0)) || { echo "installing over a user's group netsonde succeeded" >&2; exit 1; }
    [[ -z $(getcap "$helper" 2>/dev/null) ]] \
        || { echo "the helper got its capability for a user's group" >&2; exit 1; }
    dpkg --purge netsonde >/dev/null 2>&1 || true
    groupdel netsonde
    installed_here=
    echo "purged: no file, the group kept; with an override the helper stays root:root 700 without a capability;"
    echo "a user's group netsonde is refused"
fi

if [[ $(id -u) -ne 0 ]]; then
    echo "the installed netsonde-probe is checked only as root: skipped" >&2
elif dpkg-query -W -f='${Status}' netsonde-probe 2>/dev/null | grep -q "install ok installed"; then
    echo "netsonde-probe is installed on this machine; the installation checks would replace it: skipped" >&2
else
    step "netsonde-probe installed: the unit present, not enabled; ICMP under the unit's settings"
    probe_installed_here=1
    # The package's postinst applies its ping_group_range to this machine;
    # the check leaves the machine's own value as it found it.
    probe_old_range=$(</proc/sys/net/ipv4/ping_group_range)
    cleanup_probe() {
        [[ -n ${probe_installed_here:-} ]] && dpkg --purge netsonde-probe >/dev/null 2>&1 || true
        [[ ${probe_had_override:-1} -eq 0 ]] && rm -f /etc/sysctl.d/60-netsonde-probe.conf
        echo "$probe_old_range" >/proc/sys/net/ipv4/ping_group_range 2>/dev/null || true
    }
    trap 'cleanup_probe; cleanup' EXIT
    # An administrator's file of the same name overrides the package's, at
    # installation as at boot.
    probe_override=/etc/sysctl.d/60-netsonde-probe.conf
    probe_had_override=0
    [[ -e $probe_override ]] && probe_had_override=1
    if [[ $probe_had_override -eq 0 ]]; then
        mkdir -p /etc/sysctl.d
        echo 'net.ipv4.ping_group_range = 1 0' >"$probe_override"
        echo "1 0" >/proc/sys/net/ipv4/ping_group_range
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$(realpath "$probe_deb")" >/dev/null
    if [[ $probe_had_override -eq 0 ]]; then
        applied=$(tr -s '\t ' '  ' </proc/sys/net/ipv4/ping_group_range)
        rm -f "$probe_override"
        [[ $applied == "1 0" ]] || { echo "the postinst overrode the administrator's sysctl file: $applied" >&2; exit 1; }
        echo "the administrator's /etc/sysctl.d/60-netsonde-probe.conf was honoured"
        # Without the override the package's own file applies again, as the
        # checks below expect.
        /var/lib/dpkg/info/netsonde-probe.postinst configure
    fi
    [[ -f $probe_unit ]] || { echo "the unit was not installed" >&2; exit 1; }
    if compgen -G "/etc/systemd/system/*.wants/netsonde-probe.service" >/dev/null; then
        echo "installing enabled the unit" >&2
        exit 1
    fi
    enabled=$(systemctl --root=/ is-enabled netsonde-probe.service 2>/dev/null || true)
    [[ $enabled == disabled ]] || { echo "the unit is $enabled, not disabled" >&2; exit 1; }
    [[ $(dpkg-query -W -f='${Conffiles}' netsonde-probe) == *"/etc/netsonde/probe.conf"* ]] \
        || { echo "/etc/netsonde/probe.conf is not a conffile" >&2; exit 1; }
    [[ -z $(getcap /usr/bin/netsonde-probe) ]] || { echo "netsonde-probe carries a capability" >&2; exit 1; }
    echo "unit installed and $enabled; /etc/netsonde/probe.conf is a conffile"
    # As the unit runs it: a user of its own, no groups, no capabilities,
    # no_new_privs; in a network namespace with the package's sysctl value,
    # then with ping sockets refused.
    run_under_unit() { # ping_group_range seconds
        unshare --net bash -c '
            ip link set lo up
            echo "$1" >/proc/sys/net/ipv4/ping_group_range
            setpriv --reuid=61999 --regid=61999 --clear-groups --no-new-privs --inh-caps=-all \
                --bounding-set=-all -- timeout "$2" /usr/bin/netsonde-probe --listen 127.0.0.1:19699 \
                --interval 0.2 127.0.0.1 2>&1 &
            sleep $(($2 - 2))
            curl -s http://127.0.0.1:19699/metrics
            wait' run "$@"
    }
    under_unit=$(run_under_unit "0 2147483647" 5 || true)
    grep -qE '^netsonde_answers_total\{host="127\.0\.0\.1".*\} [1-9]' <<<"$under_unit" \
        || { echo "the prober got no answer under the unit's settings:" >&2; echo "$under_unit" >&2; exit 1; }
    echo "under the unit's settings the prober answers on datagram sockets"
    refused_status=0
    refused=$(unshare --net bash -c '
        echo "1 0" >/proc/sys/net/ipv4/ping_group_range
        exec setpriv --reuid=61999 --regid=61999 --clear-groups --no-new-privs --inh-caps=-all \
            --bounding-set=-all -- /usr/bin/netsonde-probe 127.0.0.1' 2>&1) || refused_status=$?
    echo "$refused"
    ((refused_status == 3)) || { echo "without ping sockets the prober ended with $refused_status, not 3" >&2; exit 1; }
    [[ $(wc -l <<<"$refused") -eq 1 && $refused == *ping_group_range* ]] \
        || { echo "without ping sockets the prober did not say so in one line naming the fix" >&2; exit 1; }
    if [[ $(</proc/sys/net/ipv4/ping_group_range) == $'0\t2147483647' ]]; then
        echo "installing applied the package's ping_group_range (it was: $probe_old_range)"
    else
        echo "installing did not apply the package's ping_group_range (read-only here?)" >&2
    fi
    dpkg --purge netsonde-probe >/dev/null
    probe_installed_here=
    echo "$probe_old_range" >/proc/sys/net/ipv4/ping_group_range || true
    [[ ! -e $probe_unit && ! -e /etc/netsonde/probe.conf ]] \
        || { echo "purging netsonde-probe left its files" >&2; exit 1; }
    echo "purged: no unit, no settings left"
fi

step "package check passed"
