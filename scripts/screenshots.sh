#!/usr/bin/env bash
# Takes the pictures of Halvotren that the README and docs/ show, from the
# real program on a virtual display, and writes them as PNGs to docs/images/
# (or the folder given), with shown.json beside them: what was on the screen
# as each was taken. On the test bed the environment names (the test of the
# pictures runs it so) it uses that bed; otherwise it builds the program and
# the stand-ins and starts a bed of its own, as run.sh does.
#
#   scripts/screenshots.sh [FOLDER]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
folder="$(mkdir -p "${1:-$root/docs/images}" && cd "${1:-$root/docs/images}" && pwd)"
if [ -z "${HALVOTREN_BED_DIR:-}" ]; then
  source "$root/scripts/build.sh"
  source "$root/scripts/bed.sh"
  halvotren_build Halvotren fakefw fakesvc driver recorder
  trap bed_down EXIT
  bed_up "$HALVOTREN_BUILD" bed-screenshots
  # The offer shown is of a version above the build's own.
  version="$(sed -n 's/^HALVOTREN_VERSION:STRING=//p' "$HALVOTREN_BUILD/CMakeCache.txt")"
  export HALVOTREN_EXE="$HALVOTREN_BUILD/Halvotren.exe" HALVOTREN_FIXTURES="$BED_FIXTURES" \
    HALVOTREN_VERSION="$version"
fi
PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 "$root/scripts/screenshots.py" "$folder"
