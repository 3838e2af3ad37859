#!/usr/bin/env bash
# Sets up, builds and starts Vardane: vardane-cli with the given arguments
# (default: --help), run from the caller's folder so relative paths work.
# Build output goes to standard error; standard output is the program's.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
(
    cd "$repo"
    scripts/setup.sh
    cmake -S . -B build-run -G Ninja -DVARDANE_BUILD_TESTS=OFF >/dev/null
    cmake --build build-run --target vardane-cli
) >&2
if (($# == 0)); then set -- --help; fi
exec "$repo/build-run/bin/vardane-cli" "$@"
