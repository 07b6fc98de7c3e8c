#!/usr/bin/env bash
# The package's MIME data, taken in by shared-mime-info's own tools into a
# scratch database: session and address list files are known by their
# names and a session also by its content, while ordinary text that happens
# to start with a number (a hosts file, a version file, a numbered list) stays
# what it was.
#   mime_types.sh <netsonde-mime.xml>
# Exits 77 (skipped) when update-mime-database or gio is missing.
set -uo pipefail
xml=$1
for tool in update-mime-database gio; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/data/mime/packages" "$work/files"
cp "$xml" "$work/data/mime/packages/netsonde.xml"
update-mime-database "$work/data/mime" >/dev/null 2>&1 || { echo "update-mime-database failed"; exit 1; }

# The type that GIO, as a file manager uses it, gives a file.
kind() {
    XDG_DATA_HOME=$work/data XDG_DATA_DIRS=/usr/share HOME=$work \
        gio info -a standard::content-type "$1" 2>/dev/null | awk '/standard::content-type:/ {print $2}'
}

f=$work/files
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost\n' >"$f/hosts"
printf '12.4\n' >"$f/debian_version"
printf '1. Buy milk\n2. Call back\n' >"$f/TODO"
printf '192.168.1.1\n10.0.0.2\n' >"$f/addresses.txt"
printf '192.168.1.1\ngateway\n' >"$f/office.net"
printf '[gateway]\r\n=\r\n' >"$f/office.nsd"
printf '[gateway]\r\n0=Reply from 192.168.1.1\r\n' >"$f/session-without-extension"

failed=0
expect() {
    local file=$1 want=$2 got
    got=$(kind "$f/$file")
    if [[ $got == "$want" ]]; then
        echo "ok: $file is $got"
    else
        echo "FAILED: $file is '$got', expected $want"
        failed=1
    fi
}
expect hosts text/plain
expect debian_version text/plain
expect TODO text/plain
expect addresses.txt text/plain
expect office.net text/x-netsonde-address-list
expect office.nsd application/x-netsonde-session
expect session-without-extension application/x-netsonde-session
exit $failed
