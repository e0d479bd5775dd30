#!/usr/bin/env bash
# Footprint benchmark: builds, starts the test bed and prints Halvotren's
# size, its idle CPU beside a floor program, its reaction times and what it
# holds before and after. Takes 6 to 8 minutes. Extra arguments go to
# tests/bench/bench.py (e.g. --cpu-seconds 20 --trials 3 for a quick look).
set -euo pipefail
source "$(dirname "$0")/build.sh"
source "$HALVOTREN_ROOT/scripts/bed.sh"

halvotren_build

# The floor is part of the main build once tests/ includes bench/; until
# then it is built on its own beside it.
floor="$HALVOTREN_BUILD/tests/bench/floor.exe"
if [ ! -f "$HALVOTREN_BUILD/tests/bench/Makefile" ]; then
  cmake -S "$HALVOTREN_ROOT/tests/bench" -B "$HALVOTREN_BUILD/bench-floor" \
    -DCMAKE_TOOLCHAIN_FILE="$HALVOTREN_ROOT/cmake/mingw-i686-win32.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$HALVOTREN_BUILD/bench-floor"
  floor="$HALVOTREN_BUILD/bench-floor/floor.exe"
fi

trap bed_down EXIT
bed_up "$HALVOTREN_BUILD"
HALVOTREN_EXE="$HALVOTREN_BUILD/Halvotren.exe" \
HALVOTREN_FIXTURES="$HALVOTREN_BUILD/tests/fixtures/bin" \
HALVOTREN_FLOOR="$floor" \
HALVOTREN_BUILD="$HALVOTREN_BUILD" \
PYTHONDONTWRITEBYTECODE=1 \
  python3 "$HALVOTREN_ROOT/tests/bench/bench.py" "$@"
