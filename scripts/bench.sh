#!/usr/bin/env bash
# Footprint benchmark: builds, starts the test bed and prints Halvotren's
# size, its idle CPU beside a floor program, its reaction times and what it
# holds before and after, and the libraries it keeps mapped at rest and after
# an update check. Takes about 8 minutes. Extra arguments go to
# tests/bench/bench.py (e.g. --cpu-seconds 20 --trials 3 for a quick look, --rounds 3 for a
# steadier ratio, --memory-only for the memory and libraries alone, in about a
# minute, building only the programs that needs).
# The same runs as `cmake --build build --target bench`.
set -euo pipefail
source "$(dirname "$0")/build.sh"
source "$HALVOTREN_ROOT/scripts/bed.sh"

# The build's own "bench" target has built everything already.
if [ -z "${HALVOTREN_BENCH_BUILT:-}" ]; then
  case " $* " in
    *" --memory-only "*) halvotren_build Halvotren floor driver fakefw fakesvc recorder ;;
    *) halvotren_build ;;
  esac
fi
floor="$HALVOTREN_BUILD/tests/bench/floor.exe"

trap bed_down EXIT
bed_up "$HALVOTREN_BUILD"
HALVOTREN_EXE="$HALVOTREN_BUILD/Halvotren.exe" \
HALVOTREN_FIXTURES="$HALVOTREN_BUILD/tests/fixtures/bin" \
HALVOTREN_FLOOR="$floor" \
HALVOTREN_BUILD="$HALVOTREN_BUILD" \
HALVOTREN_VERSION="$(sed -n 's/^HALVOTREN_VERSION:STRING=//p' "$HALVOTREN_BUILD/CMakeCache.txt")" \
PYTHONDONTWRITEBYTECODE=1 \
  python3 "$HALVOTREN_ROOT/tests/bench/bench.py" "$@"
