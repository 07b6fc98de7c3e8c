#!/usr/bin/env bash
# Installs what building, testing and running Netsonde needs on Debian 12.
# Runs as root (or through sudo); installs only what is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev
    libqt6multimedia6 qt6-qpa-plugins fonts-dejavu-core fonts-liberation2
    qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite dbus
    libgtest-dev libgmock-dev
    qt6-wayland weston
    xvfb xdotool x11-utils trayer twm libxcb-cursor0
    openbox imagemagick dbus-daemon at-spi2-core python3-pyatspi gir1.2-atspi-2.0
    iproute2 iputils-ping traceroute dnsmasq-base libcap2-bin fping desktop-file-utils
    clang-format clang-tidy cmake-format
    nftables openssl libcrypt-dev shared-mime-info libglib2.0-bin xauth tcptraceroute
    prometheus prometheus-smokeping-prober mtr-tiny
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
    sudo_cmd=()
    [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
