#!/usr/bin/env bash
# From a fresh machine: installs what is missing, builds the program and
# opens its window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target Quillbarrow
exec "$build/bin/Quillbarrow" "$@"
