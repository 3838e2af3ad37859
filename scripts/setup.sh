#!/usr/bin/env bash
# Installs what building and testing Vardane needs on Debian 12. Runs apt-get
# only for packages that are missing, as root or through sudo.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libfmt-dev libcli11-dev nlohmann-json3-dev libssl-dev ccache)
# The window front end (vardane): Qt 6 widgets, D-Bus and, for the completion
# sound, Qt Multimedia.
packages+=(qt6-base-dev qt6-base-dev-tools libgl-dev qt6-multimedia-dev)
if [[ "${1:-}" == "--tests" ]]; then
    # Real servers and proxies the integration tests start on loopback, and the
    # clients the benchmarks compare against.
    packages+=(nginx-light vsftpd python3-pyftpdlib tinyproxy microsocks dante-server openssl curl aria2 axel lftp python3 procps time)
    # The window's tests start their own session bus, and one drives the
    # window on a real X display with a window manager and key events.
    packages+=(dbus-daemon xvfb xdotool openbox)
    # The libFuzzer targets (scripts/fuzz.sh) build with clang.
    packages+=(clang libfuzzer-14-dev)
    # The naming check (tools/naming/check_naming.py) runs clang-tidy 14.
    packages+=(clang-tidy-14)
fi

if [[ "${1:-}" == "--tests" || "${1:-}" == "--package" ]]; then
    # The Debian package (scripts/package.sh) and its checks.
    packages+=(dpkg-dev fakeroot lintian appstream desktop-file-utils)
fi
if [[ "${1:-}" == "--tests" ]]; then
    # The browser tests: headless Chromium driven by Selenium; web-ext (from
    # npm, into the build tree) checks the extension for Firefox.
    packages+=(chromium chromium-driver python3-selenium)
    command -v npm >/dev/null || packages+=(nodejs npm)
fi

if [[ "${1:-}" == "--tests" ]]; then
    # pure-ftpd conflicts with vsftpd as a package (both are the system's FTP
    # server), so the tests run its binaries unpacked from Debian's package
    # into a folder of their own; these are its libraries.
    packages+=(libcap2 libcrypt1 libpam0g libsodium23 libssl3)
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

pure=/opt/vardane-test-servers/pure-ftpd
if [[ "${1:-}" == "--tests" && ! -x $pure/usr/sbin/pure-ftpd ]]; then
    echo "Unpacking pure-ftpd into $pure"
    sudo=""
    [[ $(id -u) -ne 0 ]] && sudo="sudo"
    download=$(mktemp -d)
    # apt fetches as its own user when it can write the folder.
    chmod 755 "$download"
    [[ $(id -u) -eq 0 ]] && chown _apt "$download" 2>/dev/null || true
    if ! (cd "$download" && apt-get download -qq pure-ftpd); then
        $sudo apt-get update -qq
        (cd "$download" && apt-get download -qq pure-ftpd)
    fi
    $sudo mkdir -p "$pure"
    $sudo dpkg-deb -x "$download"/pure-ftpd_*.deb "$pure"
    rm -rf "$download"
fi
