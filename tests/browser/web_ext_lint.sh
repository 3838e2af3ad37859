#!/usr/bin/env bash
# Checks the extension as Firefox's add-on linter does (web-ext lint): no
# error. web-ext comes from npm into a folder of the build tree, installed
# once. Exit 77 (skipped) without npm or the registry, unless CI=true.
#   web_ext_lint.sh EXTENSION_DIR TOOLS_DIR
set -uo pipefail
extension=$1
tools=$2
skip() {
    echo "SKIPPED: $1"
    [[ "${CI:-}" == "true" ]] && { echo "CI=true: a missing tool fails the test"; exit 1; }
    exit 77
}
web_ext=$tools/node_modules/.bin/web-ext
if [[ ! -x $web_ext ]]; then
    command -v npm >/dev/null || skip "npm is missing (scripts/setup.sh --tests installs it)"
    mkdir -p "$tools"
    npm install --prefix "$tools" --no-audit --no-fund --loglevel=error web-ext@8.10.0 ||
        skip "npm could not install web-ext"
fi
"$web_ext" lint --source-dir "$extension" --ignore-files chromium-id.txt --no-config-discovery
