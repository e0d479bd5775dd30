#!/usr/bin/env bash
# Installs what is missing, builds, starts the test bed and runs the whole
# test suite through ctest. Extra arguments go to ctest (e.g. -R e2e_).
set -euo pipefail
source "$(dirname "$0")/build.sh"
source "$HALVOTREN_ROOT/scripts/bed.sh"

halvotren_build
trap bed_down EXIT
bed_up "$HALVOTREN_BUILD"
# Two at a time: the scenarios take the bed one after another, and what needs
# no bed (fuzzers, static checks, unit and XP checks) runs beside them.
ctest --test-dir "$HALVOTREN_BUILD" --output-on-failure -j2 "$@"
