#!/usr/bin/env bash
# The core never includes a Qt or front-end header: every behaviour must be
# testable without a display, and front ends stay thin.
set -u
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2
core_dirs=(platform lang settings net task engine dialogs app explorer)
existing=()
for d in "${core_dirs[@]}"; do [[ -d $d ]] && existing+=("$d"); done
hits=$(grep -rnE '^\s*#\s*include\s*[<"](Q[A-Za-z]*|qt[^/]*/|gui/|cli/)' "${existing[@]}" 2>/dev/null || true)
if [[ -n "$hits" ]]; then
    echo "Core files include front-end headers:"
    echo "$hits"
    exit 1
fi
echo "core include check: 1 passed, 0 failed"
