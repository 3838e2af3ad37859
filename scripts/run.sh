#!/usr/bin/env bash
# Sets up, builds and starts Vardane. Arguments go to vardane-cli
# (default: --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DVARDANE_BUILD_TESTS=OFF >/dev/null
cmake --build build --target vardane-cli
if (($# == 0)); then set -- --help; fi
exec build/bin/vardane-cli "$@"
