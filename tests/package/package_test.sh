#!/usr/bin/env bash
# Builds the Debian package from this build tree with CPack, unpacks it into a
# temporary root and checks what a user gets: vardane-cli runs from there and
# keeps its data in the user's folder, fetches https through the TLS module
# the package holds (and says so when the module is missing), the native
# messaging manifests name a launcher the package holds and the extension's
# IDs, and lintian,
# desktop-file-validate and appstreamcli find no error.
# Exit 77 (skipped) when a tool is missing, unless CI=true.
#   package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
skip() {
    echo "SKIPPED: $1"
    [[ "${CI:-}" == "true" ]] && { echo "CI=true: a missing tool fails the test"; exit 1; }
    exit 77
}
for tool in cpack dpkg-deb dpkg-shlibdeps fakeroot lintian desktop-file-validate appstreamcli \
    openssl readelf; do
    command -v $tool >/dev/null || skip "$tool is missing (scripts/setup.sh --tests installs it)"
done
[[ -x $build/bin/vardane ]] || skip "the window (vardane) is not built: Qt 6 is missing"
fail() {
    echo "FAILED: $*"
    exit 1
}

work=$(mktemp -d /tmp/vardane-package-XXXXXX)
server=
trap '[[ -z $server ]] || kill $server; rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/vardane_*_amd64.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"

# Runs from the unpacked root; data goes to the user's folder, never beside
# the program (root can write usr/bin).
home=$work/home
env -u VARDANE_HOME -u XDG_DATA_HOME HOME="$home" "$root/usr/bin/vardane-cli" --help >"$work/help" ||
    fail "vardane-cli --help"
grep -q "get" "$work/help" || fail "vardane-cli --help printed no commands"
env -u VARDANE_HOME -u XDG_DATA_HOME HOME="$home" "$root/usr/bin/vardane-cli" list >/dev/null ||
    fail "vardane-cli list"
[[ -d $home/.local/share/vardane/Tasks ]] || fail "no data root under ~/.local/share/vardane"
[[ ! -e $root/usr/bin/Tasks && ! -e $root/usr/bin/Registry ]] || fail "data written beside the program"

for file in usr/bin/vardane usr/share/vardane/Lang/Eng usr/share/vardane/sounds/complete.wav \
    usr/share/applications/vardane.desktop usr/share/icons/hicolor/scalable/apps/vardane.svg \
    usr/share/icons/hicolor/48x48/apps/vardane.png usr/share/man/man1/vardane.1.gz \
    usr/share/man/man1/vardane-cli.1.gz usr/share/bash-completion/completions/vardane-cli \
    usr/share/vardane/extension/manifest.json usr/share/vardane/vardane-extension.zip; do
    [[ -s $root/$file ]] || fail "$file is missing"
done

# OpenSSL is no dependency of the programs: the module that holds it is
# loaded when a download needs TLS or a digest.
module=usr/lib/vardane/libvardane-tls.so
[[ -s $root/$module ]] || fail "$module is missing"
for program in usr/bin/vardane-cli usr/bin/vardane; do
    if readelf -d "$root/$program" | grep -qE 'NEEDED.*lib(ssl|crypto)\.'; then
        fail "$program links OpenSSL itself"
    fi
done
# An https download from the unpacked root finds the module; a copy of the
# program without one fails and names what is missing.
mkdir -p "$work/www" "$work/got" "$work/lonely"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
    -subj /CN=127.0.0.1 -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 ||
    fail "openssl req"
head -c 300001 /dev/urandom >"$work/www/file.bin"
/usr/bin/python3 - "$work/www" "$work/cert.pem" "$work/key.pem" >"$work/port" 2>/dev/null <<'PY' &
import http.server, os, ssl, sys
os.chdir(sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), http.server.SimpleHTTPRequestHandler)
tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
tls.load_cert_chain(sys.argv[2], sys.argv[3])
server.socket = tls.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
PY
server=$!
for _ in $(seq 100); do [[ -s $work/port ]] && break; sleep 0.1; done
url=https://127.0.0.1:$(<"$work/port")/file.bin
env -u VARDANE_HOME -u XDG_DATA_HOME HOME="$home" "$root/usr/bin/vardane-cli" get "$url" \
    --insecure --dir "$work/got" >"$work/https.log" 2>&1 || { cat "$work/https.log"; fail "https get"; }
cmp -s "$work/www/file.bin" "$work/got/file.bin" || fail "https get wrote other bytes"
cp "$root/usr/bin/vardane-cli" "$work/lonely/"
rm -f "$work/got/file.bin"
if env -u VARDANE_HOME -u XDG_DATA_HOME HOME="$work/home2" "$work/lonely/vardane-cli" get "$url" \
    --insecure --dir "$work/got" >"$work/lonely.log" 2>&1; then
    fail "https get without the TLS module succeeded"
fi
grep -q libvardane-tls.so "$work/lonely.log" || { cat "$work/lonely.log"; fail "no reason given"; }
[[ ! -e $work/got/file.bin ]] || fail "https get without the TLS module wrote the file"

id=$(<"$source/extension/chromium-id.txt")
/usr/bin/python3 - "$root" "$id" <<'PY' || fail "native messaging manifests"
import json, os, sys, zipfile
root, chromium_id = sys.argv[1], sys.argv[2]
firefox = json.load(open(root + "/usr/lib/mozilla/native-messaging-hosts/org.vardane.host.json"))
chromium = json.load(open(root + "/etc/chromium/native-messaging-hosts/org.vardane.host.json"))
for m in (firefox, chromium):
    assert m["name"] == "org.vardane.host" and m["type"] == "stdio", m
    assert m["path"] == "/usr/lib/vardane/native-host", m
assert firefox["allowed_extensions"] == ["vardane@vardane.org"], firefox
assert chromium["allowed_origins"] == [f"chrome-extension://{chromium_id}/"], chromium
launcher = root + "/usr/lib/vardane/native-host"
assert os.access(launcher, os.X_OK), launcher
assert "exec /usr/bin/vardane-cli native-host" in open(launcher).read()
names = zipfile.ZipFile(root + "/usr/share/vardane/vardane-extension.zip").namelist()
assert "manifest.json" in names and "lib/vardane.js" in names and "chromium-id.txt" not in names
PY
dpkg-deb -I "$deb" conffiles | grep -qx /etc/chromium/native-messaging-hosts/org.vardane.host.json ||
    fail "the Chromium manifest is no conffile"

desktop-file-validate "$root/usr/share/applications/vardane.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.vardane.Vardane.metainfo.xml" ||
    fail "appstreamcli validate"
lintian --fail-on error "$deb" || fail "lintian"
echo PASSED
