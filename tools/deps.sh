#!/usr/bin/env bash
# Installs the Debian 12 packages Tavimor needs to build, run and test, skipping what is present.
# Usage: tools/deps.sh [run|test|ci]
set -euo pipefail

purpose=${1:-test}
packages=(build-essential cmake ninja-build pkg-config qtbase5-dev libssl-dev libblkid-dev
          fonts-noto-cjk fonts-wqy-zenhei fonts-arphic-uming)
case "$purpose" in
    run) ;;
    test) packages+=(poppler-utils openssl) ;;
    ci) packages+=(poppler-utils openssl clang-format) ;;
    *) echo "usage: $0 [run|test|ci]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null; then
    sudo=(sudo)
else
    echo "Missing packages (${missing[*]}) and neither root nor sudo available." >&2
    exit 1
fi
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
