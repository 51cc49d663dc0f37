#!/usr/bin/env bash
# Builds the Debian package dist/tavimor_<version>_amd64.deb with CPack: both programs, the
# desktop entry and icons, the manual page of tavimor-check, the licence and notices.
#   tools/build-deb.sh [--test]
# --test then installs the package with apt-get, runs the installed tavimor-check --version and
# removes the package again.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
say() { echo "build-deb: $*"; }
fail() { echo "build-deb: FAILED: $*" >&2; exit 1; }

test=false
case "${1:-}" in
    --test) test=true ;;
    "") ;;
    *) echo "usage: $0 [--test]" >&2; exit 2 ;;
esac

tools/deps.sh run
packages=(icoutils dpkg-dev file)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

build=${TAVIMOR_DEB_BUILD_DIR:-$root/build-deb}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVIMOR_BUILD_TESTS=OFF \
    -DTAVIMOR_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB -B "$build/package" >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$root/dist/tavimor_${version}_amd64.deb
mkdir -p "$root/dist"
mv "$build/package/tavimor_${version}_amd64.deb" "$deb"
say "made $deb ($(du -h "$deb" | cut -f1))"
dpkg-deb --field "$deb" Depends

$test || exit 0
say "installing $deb"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "$deb" >/dev/null
reported=$(/usr/bin/tavimor-check --version)
[ "$reported" = "tavimor-check $version" ] || fail "tavimor-check --version printed \"$reported\""
for file in /usr/bin/tavimor /usr/share/applications/tavimor.desktop \
    /usr/share/icons/hicolor/48x48/apps/tavimor.png /usr/share/man/man1/tavimor-check.1.gz \
    /usr/share/doc/tavimor/LICENSE /usr/share/doc/tavimor/THIRD-PARTY-NOTICES; do
    [ -f "$file" ] || fail "the package lacks $file"
done
say "installed: $reported"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq tavimor >/dev/null
[ ! -e /usr/bin/tavimor-check ] || fail "tavimor-check is left after removing the package"
say "removed again"
