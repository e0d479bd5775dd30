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
# A mirror caught mid-sync fails an index now and then; apt keeps the others.
updated=no
for attempt in 1 2 3; do
  if apt-get update -q; then updated=yes; break; fi
  echo "install-deps: apt-get update failed (attempt $attempt)" >&2
  sleep $((attempt * 10))
done
if apt-get install -y -q --no-install-recommends "${missing[@]}"; then
  exit 0
fi
[ "$updated" = no ] || exit 1
# Without one architecture's security index, wine32's i386 libraries cannot
# match their amd64 twins' security versions; the release's own suite has
# both architectures at one version, so take every candidate from there.
. /etc/os-release
echo "install-deps: installing from $VERSION_CODENAME alone, one index being unreadable" >&2
apt-get install -y -q --no-install-recommends -o APT::Default-Release="$VERSION_CODENAME" "${missing[@]}"
