#!/usr/bin/env bash
# Starts the installed tavimor.exe under Wine on the X display in DISPLAY (tools/test-windows.sh
# runs it inside xvfb-run) from its installation folder, and pictures the start window, the
# check window and the warning of a check run on a machine without a USB disk.
#   tools/wine-smoke.sh <installation folder> <output folder>
set -euo pipefail
installed=$1
out=$2
fail() { echo "wine-smoke: FAILED: $*" >&2; wineserver -k || true; exit 1; }

# Waits (at most two minutes) for a visible window whose title matches, and prints its id.
window() {
    timeout 120 xdotool search --sync --onlyvisible --name "$1" | head -n1 ||
        fail "no window \"$1\""
}

# Pictures the screen once it differs from the picture named second (if any) and two pictures
# in a row are the same: the new window has finished painting. Bounded: at most 200 tries.
picture() {
    local name=$out/$1.png before=${2:+$out/$2.png} previous=$out/.previous.png try
    rm -f "$previous"
    for try in $(seq 200); do
        import -window root "$name"
        if [ -n "$before" ] && cmp -s "$name" "$before"; then
            continue
        fi
        if [ -f "$previous" ] && cmp -s "$name" "$previous"; then
            rm -f "$previous"
            return 0
        fi
        cp "$name" "$previous"
    done
    fail "the screen did not settle for $1"
}

cd "$installed"
wine tavimor.exe >"$out/tavimor.log" 2>&1 &

start=$(window '^Tavimor\(1\.0\)$')
picture 1-start-window
# "知道了，开始吧" at 220,490 (151 × 31); the empty menu bar takes no height on Windows.
xdotool mousemove --window "$start" 295 505 click 1
check=$(window '^Tavimor$')
picture 2-check-window 1-start-window
# The run button at 570,20 (171 × 31). Wine has no USB disk: the carrier rule fails with its
# warning box.
xdotool mousemove --window "$check" 655 35 click 1
window '^提示$' >/dev/null
picture 3-no-disk-warning 2-check-window
wineserver -k || true
