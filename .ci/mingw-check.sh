#!/usr/bin/env bash
# Builds the Windows volume layer with the MinGW cross compiler, so the Windows-only sources
# cannot rot unseen on Linux builds. Needs g++-mingw-w64-x86-64 (and qtbase5-dev for the adapter).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
compiler="${MINGW_CXX:-x86_64-w64-mingw32-g++}"
if ! command -v "$compiler" >/dev/null 2>&1; then
    echo "mingw-check: $compiler not found (install g++-mingw-w64-x86-64)" >&2
    exit 1
fi
flags=(-std=c++17 -Wall -Wextra -Werror -I"$root")

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

echo "mingw-check: compile platform/win/win32volumes.cpp"
"$compiler" "${flags[@]}" -c "$root/platform/win/win32volumes.cpp" -o "$out/win32volumes.o"

# Linking a caller proves that every Win32 function used resolves against the system libraries.
cat >"$out/probe.cpp" <<'PROBE'
#include "platform/win/win32volumes.h"
#include <cstdio>
int main()
{
    const char *roots[] = {"C:/", "D:/", "E:/"};
    for (const char *root : roots) {
        std::printf("%s fixed=%d usb=%d fs=%s\n", root, win32volumes::isFixedDrive(root),
                    win32volumes::isUsbVolume(root), win32volumes::fileSystemName(root).c_str());
    }
    return 0;
}
PROBE
echo "mingw-check: link a caller"
"$compiler" "${flags[@]}" "$out/probe.cpp" "$out/win32volumes.o" -o "$out/probe.exe"

# The Qt adapter: only a syntax check, against the host's Qt headers (no Windows Qt here).
qtHeaders="$(qmake -query QT_INSTALL_HEADERS 2>/dev/null || true)"
if [ -z "$qtHeaders" ] && [ -d /usr/include/x86_64-linux-gnu/qt5 ]; then
    qtHeaders=/usr/include/x86_64-linux-gnu/qt5
fi
if [ -n "$qtHeaders" ] && [ -d "$qtHeaders/QtCore" ]; then
    echo "mingw-check: syntax of platform/win/WindowsVolumeService.cpp"
    # Host headers carry Linux export attributes that MinGW warns about; nothing else may warn.
    "$compiler" "${flags[@]}" -Wno-attributes -fsyntax-only -DQT_NO_CAST_FROM_ASCII \
        -DQT_USE_QSTRINGBUILDER -I"$qtHeaders" -I"$qtHeaders/QtCore" \
        "$root/platform/win/WindowsVolumeService.cpp"
    echo "mingw-check: syntax of platform/win/FileReader_win.cpp"
    "$compiler" "${flags[@]}" -Wno-attributes -fsyntax-only -DQT_NO_CAST_FROM_ASCII \
        -DQT_USE_QSTRINGBUILDER -I"$qtHeaders" -I"$qtHeaders/QtCore" \
        "$root/platform/win/FileReader_win.cpp"
else
    echo "mingw-check: Qt headers not found, adapter not checked" >&2
    exit 1
fi
echo "mingw-check: ok"
