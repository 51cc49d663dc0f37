#!/bin/sh
# Pictures the start window, the check window before and after a passing run, the label dialog
# and a warning box, on a virtual X server, into a folder outside the repository.
#   tools/screenshots.sh [output folder] [build folder]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-/work/screenshots}
build=${2:-$here/build-screenshots}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$build" --target test_gui -j2 >/dev/null

mkdir -p "$out"
rm -f "$out"/[0-9]-*.png
TAVIMOR_SCREENSHOT_DIR=$(cd "$out" && pwd) QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 \
    xvfb-run -a -s "-screen 0 1280x1024x24" "$build/tests/test_gui" screenshots
ls -l "$out"/[0-9]-*.png
