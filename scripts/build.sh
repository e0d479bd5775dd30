# Shared by run.sh, test.sh, bench.sh and release.sh: installs what is
# missing and builds Halvotren.exe, its test programs and stand-ins (or only
# the targets asked for) into $HALVOTREN_BUILD. HALVOTREN_UPDATE_KEY in the
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
