#!/usr/bin/env bash
# Builds Tavimor for 64-bit Windows on Debian 12 with mingw-w64 and makes the portable zip and the
# installer in dist/. Installs what is missing, then restores or builds a static Qt for mingw.
#   tools/build-windows.sh [--qt-prefix DIR] [--build-dir DIR] [--jobs N]
# The Qt prefix (default ~/.cache/tavimor/qt5-mingw-<version>) is kept and reused. It is unpacked
# from ../shared/toolchains when that cache was made from exactly the same Debian source and
# configure options as below; otherwise Qt is built from Debian's source package (about half an
# hour on two cores).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

qt_source_package=qtbase-opensource-src
qt_version=5.15.8+dfsg-11+deb12u3
qt_options_file=$root/cmake/qt5-mingw-configure-options.txt
qt_cache_dir=$root/../shared/toolchains
qt_cache_tarball=qt5-mingw-$qt_version-x86_64-static.tar.xz
qt_cache_sha256=fd9c3e8f713844b941ed5b7cfdac50fcc2896139ae0a7dafad7539879530a259
qt_prefix=${HOME}/.cache/tavimor/qt5-mingw-$qt_version
build=$root/build-windows
jobs=$(nproc)

while [ $# -gt 0 ]; do
    case "$1" in
        --qt-prefix) qt_prefix=$(realpath -m "$2"); shift 2 ;;
        --build-dir) build=$(realpath -m "$2"); shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        *) echo "usage: $0 [--qt-prefix DIR] [--build-dir DIR] [--jobs N]" >&2; exit 2 ;;
    esac
done

say() { echo "build-windows: $*"; }
fail() { echo "build-windows: $*" >&2; exit 1; }

# --- Packages --------------------------------------------------------------------------------
install_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || fail "missing packages (${missing[*]}), and neither root nor sudo"
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

install_packages cmake ninja-build g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    mingw-w64-x86-64-dev nsis xz-utils

# --- Qt --------------------------------------------------------------------------------------
# The stamp says from what the prefix was made; a prefix of other options is rebuilt.
qt_stamp_text="$qt_source_package $qt_version
$(cat "$qt_options_file")"
qt_stamp=$qt_prefix/tavimor-qt-build.txt

restore_qt_from_cache() {
    local tarball=$qt_cache_dir/$qt_cache_tarball
    [ -f "$tarball" ] && [ -f "$qt_cache_dir/qt5-mingw-configure-options.txt" ] || return 1
    if ! cmp -s "$qt_cache_dir/qt5-mingw-configure-options.txt" "$qt_options_file"; then
        say "the Qt cache was configured with other options: not used"
        return 1
    fi
    if [ "$(sha256sum "$tarball" | cut -d' ' -f1)" != "$qt_cache_sha256" ]; then
        say "the Qt cache's checksum differs: not used"
        return 1
    fi
    say "unpacking Qt from $tarball"
    local unpack
    unpack=$(mktemp -d "$(dirname "$qt_prefix")/qt-unpack.XXXXXX")
    tar -xJf "$tarball" -C "$unpack"
    rm -rf "$qt_prefix"
    mv "$unpack/qt5-mingw" "$qt_prefix"
    rmdir "$unpack"
}

# Source packages from the mirrors apt already uses, in sources files of our own: each entry
# that fetches binary packages is copied with the source type, its options (keys) kept.
enable_deb_src() {
    local list=/etc/apt/sources.list.d/tavimor-deb-src.list
    local deb822=/etc/apt/sources.list.d/tavimor-deb-src.sources
    [ -f "$list" ] || [ -f "$deb822" ] && return 0
    local lines stanzas file
    lines=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        sed -n 's/^deb\(\s\)/deb-src\1/p' || true)
    stanzas=
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        stanzas+=$(awk -v RS= -v ORS='\n\n' '/(^|\n)Types:[^\n]*deb([ \t]|\n|$)/ {
                       sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print
                   }' "$file")
    done
    [ -n "$lines$stanzas" ] || fail "no Debian mirror found in the apt sources"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    if [ -n "$lines" ]; then
        say "enabling source packages in $list"
        printf '%s\n' "$lines" | "${sudo[@]}" tee "$list" >/dev/null
    fi
    if [ -n "$stanzas" ]; then
        say "enabling source packages in $deb822"
        printf '%s\n' "$stanzas" | "${sudo[@]}" tee "$deb822" >/dev/null
    fi
    "${sudo[@]}" apt-get update -qq
}

build_qt() {
    install_packages dpkg-dev build-essential perl python3
    enable_deb_src
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/tavimor-qt.XXXXXX")
    say "building Qt $qt_version for mingw in $work (configure about 4 min, build about 27 min)"
    # Qt's mkspec calls x86_64-w64-mingw32-g++, which may be the win32-thread compiler: the
    # posix-thread one stands in for it on this build's PATH.
    mkdir -p "$work/bin"
    local tool
    for tool in gcc g++ c++; do
        ln -s "/usr/bin/x86_64-w64-mingw32-$tool-posix" "$work/bin/x86_64-w64-mingw32-$tool"
    done
    (
        export PATH=$work/bin:$PATH
        cd "$work"
        apt-get source -qq "$qt_source_package=$qt_version"
        cd "$qt_source_package"-*/
        local options
        mapfile -t options < "$qt_options_file"
        rm -rf "$qt_prefix"
        ./configure "${options[@]}" -prefix "$qt_prefix"
        make -j"$jobs"
        make install
    )
    rm -rf "$work"
}

if [ -f "$qt_stamp" ] && [ "$(cat "$qt_stamp")" = "$qt_stamp_text" ]; then
    say "Qt for mingw: $qt_prefix"
else
    mkdir -p "$(dirname "$qt_prefix")"
    restore_qt_from_cache || build_qt
    [ -f "$qt_prefix/lib/cmake/Qt5/Qt5Config.cmake" ] || fail "no Qt in $qt_prefix"
    printf '%s\n' "$qt_stamp_text" > "$qt_stamp"
fi

# --- Tavimor ---------------------------------------------------------------------------------
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_PREFIX_PATH="$qt_prefix" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
    -DTAVIMOR_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j"$jobs"

# --- Zip and installer -----------------------------------------------------------------------
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"
mkdir -p "$root/dist"
stage=$build/stage
rm -rf "$stage"
cmake --install "$build" --prefix "$stage/tavimor-$version" --strip

zip=$root/dist/tavimor-$version-windows-x64.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "tavimor-$version")
say "made $zip ($(du -h "$zip" | cut -f1))"

installer=$root/dist/Tavimor-$version-x64-setup.exe
version4=$(echo "$version.0.0.0" | cut -d. -f1-4) # Windows version resources have four parts
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DVERSION4="$version4" -DSTAGE="$stage/tavimor-$version" \
    -DOUTFILE="$installer" "$root/packaging/tavimor.nsi"
say "made $installer ($(du -h "$installer" | cut -f1))"
