#!/usr/bin/env bash
# Installs what is missing, builds, and runs Halvotren.exe under Wine in the
# prepared prefix with the stand-in firewall and services running, until the
# program exits (or Ctrl+C).
set -euo pipefail
source "$(dirname "$0")/build.sh"
source "$HALVOTREN_ROOT/scripts/bed.sh"

# Only the program and the stand-ins its world needs, so that the icon shows
# as soon as possible; the test command builds everything else.
halvotren_build Halvotren fakefw fakesvc driver recorder
# With a display of your own the tray icon shows there; without one a
# virtual display is started.
if [ -n "${DISPLAY:-}" ]; then BED_KEEP_DISPLAY=1; fi
trap bed_down EXIT
bed_up "$HALVOTREN_BUILD"
# All well: the stand-ins' defaults, whatever a test run left set.
rm -f "$WINEPREFIX/drive_c/halvotren-bed/firewall/"* "$WINEPREFIX/drive_c/halvotren-bed/services/"*
wine "$BED_FIXTURES/driver.exe" service SharedAccess start >/dev/null
wine "$BED_FIXTURES/driver.exe" service IpNat start >/dev/null
if [ -z "${BED_KEEP_DISPLAY:-}" ]; then
  cat <<MSG
Halvotren runs on the virtual display $DISPLAY. To see its tray icon:
  DISPLAY=$DISPLAY import -window root /tmp/halvotren-screen.png
and open /tmp/halvotren-screen.png. Stop with Ctrl+C.
MSG
fi
wine "$HALVOTREN_BUILD/Halvotren.exe"
