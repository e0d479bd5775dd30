# Shared by run.sh, test.sh, bench.sh, release.sh and verify-release.sh:
# installs what is missing and builds Halvotren.exe, its test programs and
# stand-ins (or only the targets asked for) into $HALVOTREN_BUILD. HALVOTREN_UPDATE_KEY in the
# environment names the update key the program is built with (none when
# unset: the program then takes any update package).
HALVOTREN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
HALVOTREN_BUILD="${HALVOTREN_BUILD:-$HALVOTREN_ROOT/build}"

# halvotren_build [TARGET...]: everything, or only the targets named.
halvotren_build() {
  "$HALVOTREN_ROOT/scripts/install-deps.sh"
  cmake -S "$HALVOTREN_ROOT" -B "$HALVOTREN_BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$HALVOTREN_ROOT/cmake/mingw-i686-win32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DHALVOTREN_SOAK_SECONDS="${HALVOTREN_SOAK_SECONDS:-240}" \
    -DHALVOTREN_UPDATE_KEY="${HALVOTREN_UPDATE_KEY:-}" >/dev/null
  local targets=()
  if [ $# -gt 0 ]; then targets=(--target "$@"); fi
  cmake --build "$HALVOTREN_BUILD" -j "$(nproc)" "${targets[@]}"
}

# halvotren_build_release DIR VERSION PUBLIC_KEY [SETTING...]: the package
# of a release, built in DIR with its version and the update key's public
# half (a PEM file, or empty for none), as release.sh builds it and
# verify-release.sh builds it again. Every setting is given anew, so that a
# build tree used before keeps no certificate, key or version of an earlier
# release; the SETTINGs (-D...) add the signing.
halvotren_build_release() {
  local dir=$1 version=$2 public_key=$3
  shift 3
  cmake -S "$HALVOTREN_ROOT" -B "$dir" \
    -DCMAKE_TOOLCHAIN_FILE="$HALVOTREN_ROOT/cmake/mingw-i686-win32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DHALVOTREN_TESTS=OFF -DHALVOTREN_VERSION="$version" \
    -DHALVOTREN_UPDATE_KEY="$public_key" -DHALVOTREN_SIGN_CERT= -DHALVOTREN_SIGN_KEY= -DHALVOTREN_SIGN_PKCS12= \
    -DHALVOTREN_SIGN_TIMESTAMP= -DHALVOTREN_SIGN_NO_TIMESTAMP=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target halvotren_package
}
