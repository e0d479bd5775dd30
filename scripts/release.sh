#!/usr/bin/env bash
# Builds a release and lays out the folder a maker uploads to the web
# server: downloads/halvotren.ver, naming the version and the package's URL,
# and the package beside it.
#
#   release.sh --base-url URL [--version V] [--out DIR] [--build-dir DIR]
#              [--cert CHAIN.pem --key KEY.pem | --pkcs12 BUNDLE.p12]
#
# URL is where downloads/ will be served, e.g. http://www.halvotren.example/downloads.
# The version defaults to the one CMakeLists.txt sets. With a certificate the
# program and its package are signed (a PKCS#12 password is read from
# HALVOTREN_SIGN_PASSWORD); without one the release is unsigned, and the
# programs it installs will take an unsigned update from anyone.
set -euo pipefail
source "$(dirname "$0")/build.sh"

base_url= version= out= build_dir= signing=()
usage() {
  echo "usage: release.sh --base-url URL [--version V] [--out DIR] [--build-dir DIR] [--cert C --key K | --pkcs12 P]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case "$1" in
    --base-url) base_url=$2 ;;
    --version) version=$2 ;;
    --out) out=$2 ;;
    --build-dir) build_dir=$2 ;;
    --cert) signing+=(-DHALVOTREN_SIGN_CERT="$(realpath "$2")") ;;
    --key) signing+=(-DHALVOTREN_SIGN_KEY="$(realpath "$2")") ;;
    --pkcs12) signing+=(-DHALVOTREN_SIGN_PKCS12="$(realpath "$2")") ;;
    *) usage ;;
  esac
  shift 2
done
[ -n "$base_url" ] || usage
if [ -z "$version" ]; then
  version=$(sed -n 's/^set(HALVOTREN_VERSION "\([^"]*\)".*/\1/p' "$HALVOTREN_ROOT/CMakeLists.txt")
fi
out=${out:-$HALVOTREN_ROOT/release/$version}
build_dir=${build_dir:-$HALVOTREN_BUILD/release-$version}
if [ ${#signing[@]} -eq 0 ]; then
  echo "release: no certificate given; building an UNSIGNED release" >&2
fi

"$HALVOTREN_ROOT/scripts/install-deps.sh"
# Every setting is given anew, so that a build tree used before keeps no
# certificate or version of an earlier release.
cmake -S "$HALVOTREN_ROOT" -B "$build_dir" \
  -DCMAKE_TOOLCHAIN_FILE="$HALVOTREN_ROOT/cmake/mingw-i686-win32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DHALVOTREN_TESTS=OFF -DHALVOTREN_VERSION="$version" \
  -DHALVOTREN_SIGN_CERT= -DHALVOTREN_SIGN_KEY= -DHALVOTREN_SIGN_PKCS12= "${signing[@]}" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target halvotren_package
python3 "$HALVOTREN_ROOT/scripts/release_folder.py" "$build_dir/Halvotren-$version.msi" "$version" "$base_url" "$out"
