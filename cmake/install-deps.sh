#!/usr/bin/env bash
# Installs what building and testing Velkory needs on Debian 12, if missing:
# the native toolchain and test libraries, the 32-bit Windows cross compiler,
# wine with its 32-bit half, chmcmd for the sample help file, the peers and
# tools the benchmarks compare against, cpp-httplib and the media types for
# `velkory serve`, and what its tests drive: Chromium (with node and npm for
# puppeteer-core), zsh, man, dpkg-dev.
set -euo pipefail

# usage: install-deps.sh [demo]   (demo: only what building and the demo need)
if [ "${1:-}" = demo ]; then
  packages=(cmake g++ make fp-utils pkg-config libcpp-httplib-dev nlohmann-json3-dev media-types libxapian-dev)
else
  packages=(cmake g++ make pkg-config python3 libgtest-dev googletest libbenchmark-dev
            g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 fp-utils
            libmspack-dev libchm-dev p7zip-full clang-format
            libcpp-httplib-dev nlohmann-json3-dev media-types chromium zsh man-db dpkg-dev w3m lynx tmux ccache nodejs libxapian-dev libzip-dev libgumbo-dev pandoc epubcheck neovim)
  command -v npm >/dev/null || packages+=(npm)  # a nodejs from elsewhere may bring its own npm
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
