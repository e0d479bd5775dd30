# Shared by run.sh and test.sh: installs what is missing and builds
# Halvotren.exe, its test programs and stand-ins into $HALVOTREN_BUILD.
HALVOTREN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
HALVOTREN_BUILD="${HALVOTREN_BUILD:-$HALVOTREN_ROOT/build}"

halvotren_build() {
  "$HALVOTREN_ROOT/scripts/install-deps.sh"
  cmake -S "$HALVOTREN_ROOT" -B "$HALVOTREN_BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$HALVOTREN_ROOT/cmake/mingw-i686-win32.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$HALVOTREN_BUILD" -j "$(nproc)"
}
