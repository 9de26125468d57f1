#!/usr/bin/env bash
# Installs what building and testing Quorva needs on Debian 12: CMake,
# MinGW-w64 for i686, GoogleTest's sources, the XXH3 header (libxxhash-dev),
# RapidJSON (header-only: the grammar of a snapshot's lines), 32-bit Wine,
# Python 3 (the end-to-end scripts) and rsync (which reads back the list of
# files to copy again in the tests). Installs only what is missing; works as
# root or through sudo.
set -euo pipefail

packages=(cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest libxxhash-dev
  rapidjson-dev python3 rsync wine wine64 wine32:i386)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "Installing: ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
