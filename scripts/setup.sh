#!/usr/bin/env bash
# Installs what building and testing Vardane needs on Debian 12. Runs apt-get
# only for packages that are missing, as root or through sudo.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libfmt-dev libcli11-dev ccache)
# The window front end (vardane): Qt 6 widgets, D-Bus and, for the completion
# sound, Qt Multimedia.
packages+=(qt6-base-dev qt6-base-dev-tools libgl-dev qt6-multimedia-dev)
if [[ "${1:-}" == "--tests" ]]; then
    # Real servers and proxies the integration tests start on loopback, and the
    # clients the benchmarks compare against.
    packages+=(nginx-light vsftpd python3-pyftpdlib tinyproxy microsocks dante-server curl aria2 python3 procps time)
    # The window's tests start their own session bus.
    packages+=(dbus-daemon)
    # The libFuzzer targets (scripts/fuzz.sh) build with clang.
    packages+=(clang libfuzzer-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
