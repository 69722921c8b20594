#!/usr/bin/env bash
# From a fresh machine: installs what is missing, builds everything and runs
# every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

export LC_ALL=C.UTF-8
export QT_QPA_PLATFORM=offscreen

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
(cd "$build" && ctest --output-on-failure -j"$(nproc)")

# The Windows branch of the parts without Qt, cross-built and run under Wine.
bash scripts/test-windows.sh
