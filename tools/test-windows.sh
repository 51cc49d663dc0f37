#!/usr/bin/env bash
# Tests the Windows build of tools/build-windows.sh under Wine, each part in a fresh Wine prefix:
#  1. every Qt Test suite as a Windows program (offscreen platform), the Win32 volume layer on a
#     fixed, a removable and a CD drive made for it;
#  2. the installer: silent install, the installed tavimor-check.exe (--version, then the same
#     masters as the Linux tavimor-check give the same JSON and report text), the installed
#     application on a virtual X server with screenshots, silent uninstall, nothing left.
#   tools/test-windows.sh [--build-dir DIR] [--native-build-dir DIR] [--out DIR]
# Screenshots and logs go to --out (default build-windows/wine-test).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

build=$root/build-windows
native=$root/build
out=
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) build=$(realpath -m "$2"); shift 2 ;;
        --native-build-dir) native=$(realpath -m "$2"); shift 2 ;;
        --out) out=$(realpath -m "$2"); shift 2 ;;
        *) echo "usage: $0 [--build-dir DIR] [--native-build-dir DIR] [--out DIR]" >&2; exit 2 ;;
    esac
done
out=${out:-$build/wine-test}

say() { echo "test-windows: $*"; }
fail() { echo "test-windows: FAILED: $*" >&2; exit 1; }
started=$(date +%s)
lap() { say "$1 took $(($(date +%s) - lap_start)) s"; lap_start=$(date +%s); }
lap_start=$started

# --- Packages --------------------------------------------------------------------------------
packages=(wine wine64 fonts-wine xvfb xauth xdotool imagemagick poppler-utils fonts-wqy-zenhei
          cmake ninja-build icoutils binutils-mingw-w64-x86-64)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

[ -f "$build/CMakeCache.txt" ] || fail "no Windows build in $build: run tools/build-windows.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
installer=$root/dist/Tavimor-$version-x64-setup.exe
[ -f "$installer" ] || fail "no installer $installer: run tools/build-windows.sh"

rm -rf "$out"
mkdir -p "$out"

# --- 0. The programs themselves ------------------------------------------------------------------
# A windowed and a console program, each with icon and version resources, needing no DLL beyond
# the system's (the compiler's runtime is linked in).
check_program() {
    local exe=$1 subsystem=$2 headers resources dlls
    # Read whole before matching: grep -q would end a pipe early, which pipefail counts as failure.
    headers=$(x86_64-w64-mingw32-objdump -p "$exe")
    resources=$(wrestool -l "$exe")
    grep -q "^Subsystem.*($subsystem)" <<<"$headers" || fail "$exe is not a $subsystem program"
    grep -q "type=version" <<<"$resources" || fail "$exe has no version information"
    grep -q "type=group_icon" <<<"$resources" || fail "$exe has no icon"
    dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
    if grep -Eiq 'libstdc|libgcc|winpthread|^Qt5' <<<"$dlls"; then
        fail "$exe needs DLLs that Windows does not have: $(echo $dlls)"
    fi
}
check_program "$build/app/tavimor.exe" "Windows GUI"
check_program "$build/cli/tavimor-check.exe" "Windows CUI"
export WINEDEBUG=-all
# No Mono or Gecko install prompts in a new prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# A new prefix reporting Windows 10, with Wine's own fonts and a CJK font where Windows keeps
# its fonts (Debian's Wine does not look at the system's fonts otherwise).
new_prefix() {
    export WINEPREFIX=$out/prefix-$1
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    local fonts=$WINEPREFIX/drive_c/windows/Fonts
    mkdir -p "$fonts"
    cp /usr/share/wine/fonts/* "$fonts/"
    cp /usr/share/fonts/truetype/wqy/wqy-zenhei.ttc "$fonts/"
    wine winecfg /v win10 >/dev/null 2>&1
    wineserver -w
}

# --- 1. The test suites --------------------------------------------------------------------------
new_prefix suites
# D: a CD drive and E: a removable one, both folders; C: and Z: are Wine's fixed drives.
mkdir -p "$out/drives/cd" "$out/drives/stick"
ln -sfn "$out/drives/cd" "$WINEPREFIX/dosdevices/d:"
ln -sfn "$out/drives/stick" "$WINEPREFIX/dosdevices/e:"
wine reg add 'HKLM\Software\Wine\Drives' /v 'd:' /d cdrom /f >/dev/null
wine reg add 'HKLM\Software\Wine\Drives' /v 'e:' /d floppy /f >/dev/null
wineserver -w
say "Qt Test suites under Wine"
# The TAP output of every suite goes to the log; the summary and failures are shown.
status=0
TAVIMOR_TEST_DRIVES="C:=fixed,NTFS D:=cdrom,CDFS E:=removable,NTFS Z:=fixed,NTFS" \
    ctest --test-dir "$build" -V -j2 > "$out/suites.log" 2>&1 || status=$?
grep -E "^[0-9]+: (not ok|# (pass|fail|skip|tests))|tests passed|Test +#" "$out/suites.log" || true
[ "$status" -eq 0 ] || fail "Qt Test suites under Wine (log: $out/suites.log)"
# A suite that skipped everything would pass unseen: the volume layer must have checked drives.
grep -q "^[0-9]*: ok .* - drives(D:/)" "$out/suites.log" ||
    fail "the Win32 volume suite did not check the CD drive"
wineserver -k || true
lap "the suites under Wine"

# --- 2. The installer ----------------------------------------------------------------------------
new_prefix install
c=$WINEPREFIX/drive_c
find "$c" -path "$c/users/*/Temp" -prune -o -path "$c/windows/temp" -prune -o -print |
    sort > "$out/before-install.txt"
say "installing $installer silently"
wine "$(winepath -w "$installer")" /S
wineserver -w
installed=$c/Program\ Files/Tavimor
for file in tavimor.exe tavimor-check.exe set.ini logo.ico LICENSE.txt THIRD-PARTY-NOTICES.txt \
    uninstall.exe; do
    [ -f "$installed/$file" ] || fail "the installer did not install $file"
done
menu=$c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Tavimor
[ -f "$menu/Tavimor.lnk" ] || fail "no Start-menu shortcut"
entry=$(wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavimor' \
    /v DisplayVersion 2>/dev/null | tr -d '\r' || true)
grep -q "REG_SZ *$version\$" <<<"$entry" || fail "no uninstall entry for version $version"

reported=$(wine 'C:\Program Files\Tavimor\tavimor-check.exe' --version | tr -d '\r')
[ "$reported" = "tavimor-check $version" ] ||
    fail "the installed tavimor-check.exe --version printed \"$reported\""
say "installed: $reported"
lap "installing"

# The same masters through the installed Windows checker and the Linux one.
if [ ! -x "$native/tests/test_cli" ] || [ ! -x "$native/cli/tavimor-check" ]; then
    cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$native" -j2 --target test_cli tavimor-check >/dev/null
say "the same verdicts from the Windows and the Linux checker"
TAVIMOR_WINDOWS_CHECK=$installed/tavimor-check.exe "$native/tests/test_cli" sameOnWindows \
    2>&1 | tee "$out/same-verdicts.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "verdicts differ (log: $out/same-verdicts.log)"
grep -q "^SKIP" "$out/same-verdicts.log" && fail "the verdict comparison was skipped"
lap "comparing verdicts"

# The installed application on a virtual X server, started in the installation folder as the
# Start-menu shortcut starts it.
say "the installed application under Xvfb"
# The Wine session so far ran without a display; the application's starts afresh with one.
wineserver -k || true
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tools/wine-smoke.sh" "$installed" "$out"
for shot in 1-start-window 2-check-window 3-no-disk-warning; do
    [ -s "$out/$shot.png" ] || fail "no screenshot $shot"
done
lap "the application smoke run"

say "uninstalling"
wine 'C:\Program Files\Tavimor\uninstall.exe' /S
wineserver -w
# The uninstaller copies itself away and runs from there: wait for it to be gone too.
wineserver -w
[ ! -e "$installed" ] || fail "left behind: $(ls -A "$installed")"
[ ! -e "$menu" ] || fail "the Start-menu folder is left behind"
if wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavimor' \
    >/dev/null 2>&1; then
    fail "the uninstall entry is left behind"
fi
find "$c" -path "$c/users/*/Temp" -prune -o -path "$c/windows/temp" -prune -o -print |
    sort > "$out/after-uninstall.txt"
left=$(comm -13 "$out/before-install.txt" "$out/after-uninstall.txt")
[ -z "$left" ] || fail "files left behind after uninstalling: $left"
lap "uninstalling"
wineserver -k || true

say "passed in $(($(date +%s) - started)) s; screenshots in $out"
