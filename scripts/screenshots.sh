#!/usr/bin/env bash
# Renders the main window offscreen, with tasks in every state, the dialogs
# and every page of the settings sheet into
# docs/screenshots/*.png (shown in README.md).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
scripts/setup.sh >&2
cmake -S . -B build-run -G Ninja -DVARDANE_BUILD_TESTS=OFF >/dev/null
cmake --build build-run --target vardane-screenshots >&2
mkdir -p docs/screenshots
QT_QPA_PLATFORM=offscreen timeout 60 build-run/bin/vardane-screenshots docs/screenshots
