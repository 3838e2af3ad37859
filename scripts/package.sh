#!/usr/bin/env bash
# Builds the Debian package build-package/vardane_<version>_amd64.deb from a
# Release build of both programs (installs what is missing first).
#   scripts/package.sh [--check]   --check also runs lintian, desktop-file-validate
#                                  and appstreamcli validate on the result
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
scripts/setup.sh --package
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DVARDANE_BUILD_TESTS=OFF -DVARDANE_BUILD_BENCH=OFF -DVARDANE_BUILD_GUI=ON >/dev/null
cmake --build build-package
if ! grep -q '^vardane:' <(cmake --build build-package --target help); then
    echo "package.sh: the window (vardane) was not built: is Qt 6 installed?" >&2
    exit 1
fi
(cd build-package && cpack -G DEB >/dev/null)
deb=$(ls -t build-package/vardane_*_amd64.deb | head -n 1)
echo "$deb"
if [[ "${1:-}" == "--check" ]]; then
    lintian --fail-on error "$deb"
    root=$(mktemp -d)
    trap 'rm -rf "$root"' EXIT
    dpkg-deb -x "$deb" "$root"
    desktop-file-validate "$root/usr/share/applications/vardane.desktop"
    appstreamcli validate --no-net "$root/usr/share/metainfo/org.vardane.Vardane.metainfo.xml"
fi
