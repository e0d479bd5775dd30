#!/usr/bin/env bash
# Installs what is missing, builds, starts the test beds and runs the whole
# test suite through ctest. Extra arguments go to ctest (e.g. -R e2e_).
set -euo pipefail
source "$(dirname "$0")/build.sh"
source "$HALVOTREN_ROOT/scripts/bed.sh"

# The scenarios wait on the program's clocks far more than they compute, so
# five beds (prefix, display, wineserver each) take five at a time, and what
# needs no bed (fuzzers, static checks, unit and XP checks, rebuilds) runs
# beside them.
BEDS="${HALVOTREN_BEDS:-5}"
halvotren_build
trap bed_down EXIT
beds_up "$HALVOTREN_BUILD" "$BEDS"
spec="$HALVOTREN_BUILD/beds.json"
{
  printf '{"version": {"major": 1, "minor": 0}, "local": [{"beds": ['
  for ((n = 1; n <= BEDS; n++)); do
    printf '%s{"id": "bed%d", "slots": 1}' "$([ "$n" -gt 1 ] && echo ', ')" "$n"
  done
  printf ']}]}\n'
} >"$spec"
ctest --test-dir "$HALVOTREN_BUILD" --output-on-failure --resource-spec-file "$spec" \
  -j "$((BEDS + 1))" "$@"
