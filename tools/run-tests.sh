#!/usr/bin/env bash
# Installs what is missing, builds Tavimor and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh "${TAVIMOR_DEPS:-test}"
build=${TAVIMOR_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
