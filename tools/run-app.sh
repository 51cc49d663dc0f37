#!/usr/bin/env bash
# Installs what is missing, builds Tavimor and starts it from a working directory that holds the
# window icon and a sample set.ini (the application reads both from its working directory).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/deps.sh run
build=${TAVIMOR_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" --target tavimor tavimor-check

workdir="$build/workdir"
mkdir -p "$workdir"
cp resources/logo.ico "$workdir/"
[ -f "$workdir/set.ini" ] || cp resources/set.ini "$workdir/"
cd "$workdir"
exec ../app/tavimor "$@"
