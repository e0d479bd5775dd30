#!/usr/bin/env bash
# Installs every Debian package the build, the run and the tests need.
# Safe to run again: apt only adds what is missing. Needs root.
set -euo pipefail

packages=(
  cmake make python3 python3-olefile
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
  xvfb xdotool x11-utils imagemagick
  wixl msitools googletest osslsigncode openssl git faketime
  clang libclang-rt-14-dev clang-tidy cppcheck libssl-dev
  winbind  # Samba's ntlm_auth, through which Wine's WinINet answers NTLM
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
