#!/usr/bin/env bash
# Runs a scenario on the bed ctest allotted it ("id:bed2,slots:1" names
# BUILD/bed2), or on the bed already in the environment when ctest was run
# without the beds' resource file.
set -euo pipefail
allotted="${CTEST_RESOURCE_GROUP_0_BEDS:-}"
if [ -n "$allotted" ]; then
  name="${allotted#id:}"
  source "$HALVOTREN_BUILD/${name%%,*}/env"
fi
exec "$@"
