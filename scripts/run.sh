#!/usr/bin/env bash
# Sets up, builds and starts Vardane, run from the caller's folder so relative
# paths work:
#   scripts/run.sh gui [--home DIR] [URL]   the window (vardane)
#   scripts/run.sh [ARGS]                   vardane-cli with ARGS (default --help)
# Build output goes to standard error; standard output is the program's.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
target=vardane-cli
if [[ "${1:-}" == "gui" ]]; then
    target=vardane
    shift
elif (($# == 0)); then
    set -- --help
fi
(
    cd "$repo"
    scripts/setup.sh
    cmake -S . -B build-run -G Ninja -DVARDANE_BUILD_TESTS=OFF >/dev/null
    cmake --build build-run --target "$target"
) >&2
exec "$repo/build-run/bin/$target" "$@"
