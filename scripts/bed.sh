# The test bed: a Wine prefix of the project's own under the build tree, an
# Xvfb display and a persistent wineserver, with the stand-ins for the
# firewall and its services installed. Sourced by run.sh and test.sh.
#
#   bed_up BUILD_DIR [NAME]   start the bed BUILD_DIR/NAME (default "bed");
#                             exports WINEPREFIX, DISPLAY, ... and writes
#                             them to BUILD_DIR/NAME/env for others to source
#   beds_up BUILD_DIR COUNT   COUNT beds, bed1 ... bedCOUNT, each with its own
#                             prefix, display and wineserver
#   bed_down                  stop everything bed_up started
#
# The stand-ins live in C:\halvotren-bed inside the prefix; tests steer them
# through files in that folder.

BED_CLSID='{304CE942-6E39-40D8-943A-B913C40C9CD4}'
# HNetCfg.FwPolicy2, the firewall of Vista and later. Wine has a class of
# its own there, answering E_NOTIMPL to every call; the stand-in is
# registered over it and refuses to exist unless a scenario runs as a later
# Windows (tests/e2e/bed.py).
BED_POLICY2_CLSID='{E2B3C97F-6AE1-41AC-817A-F6F92166D7DD}'

bed_log() { echo "bed: $*" >&2; }

bed_wait_for() {  # bed_wait_for SECONDS COMMAND...: poll until COMMAND succeeds
  local deadline=$(( $(date +%s) + $1 )); shift
  until "$@" >/dev/null 2>&1; do
    if [ "$(date +%s)" -ge "$deadline" ]; then return 1; fi
    sleep 0.2
  done
}

bed_start_display() {
  if [ -n "${BED_KEEP_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then return 0; fi
  local fifo="$BED_DIR/displayfd"
  rm -f "$fifo"; mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >"$BED_DIR/xvfb.log" 2>&1 &
  local xvfb=$! number
  if ! read -r -t 30 number <"$fifo"; then
    bed_log "Xvfb did not start (see $BED_DIR/xvfb.log)"; return 1
  fi
  rm -f "$fifo"
  export DISPLAY=":$number"
  BED_XVFB_PIDS="${BED_XVFB_PIDS:-} $xvfb"
  bed_log "Xvfb on display $DISPLAY (pid $xvfb)"
}

bed_create_prefix() {
  mkdir -p "$BED_DIR"
  if [ -f "$WINEPREFIX/.halvotren-bed" ]; then return 0; fi
  # A copy of a finished prefix whose server has ended is a good prefix, made
  # in seconds instead of a minute.
  if [ -n "${BED_TEMPLATE:-}" ] && [ -f "$BED_TEMPLATE/.halvotren-bed" ]; then
    bed_log "copying Wine prefix $BED_TEMPLATE to $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    cp -a "$BED_TEMPLATE" "$WINEPREFIX.tmp" && mv "$WINEPREFIX.tmp" "$WINEPREFIX"
    return
  fi
  bed_log "creating Wine prefix $WINEPREFIX (once per build tree)"
  rm -rf "$WINEPREFIX"
  # Keep wineboot from offering to download Mono and Gecko.
  WINEDLLOVERRIDES='mscoree=;mshtml=' wineboot -i >"$BED_DIR/wineboot.log" 2>&1 || {
    bed_log "wineboot failed (see $BED_DIR/wineboot.log)"; return 1; }
  # Let the new prefix settle and its server end: a service manager still
  # starting from wineboot while the bed's first commands start another
  # leaves two of them, each with half the services.
  wineserver -w
  touch "$WINEPREFIX/.halvotren-bed"
}

bed_reg() { wine reg "$@" >/dev/null 2>&1; }

bed_install_stand_ins() {
  local bed_c="$WINEPREFIX/drive_c/halvotren-bed"
  mkdir -p "$bed_c/firewall" "$bed_c/services"
  cp -f "$BED_FIXTURES/fakefw.dll" "$BED_FIXTURES/fakesvc.exe" "$BED_FIXTURES/driver.exe" "$bed_c/"
  # The firewall manager's class now resolves to the stand-in, in this
  # prefix only.
  bed_reg add "HKLM\\Software\\Classes\\CLSID\\$BED_CLSID\\InprocServer32" /ve /d 'C:\halvotren-bed\fakefw.dll' /f
  bed_reg add "HKLM\\Software\\Classes\\CLSID\\$BED_CLSID\\InprocServer32" /v ThreadingModel /d Both /f
  bed_reg add "HKLM\\Software\\Classes\\CLSID\\$BED_POLICY2_CLSID\\InprocServer32" /ve /d 'C:\halvotren-bed\fakefw.dll' /f
  bed_reg add "HKLM\\Software\\Classes\\CLSID\\$BED_POLICY2_CLSID\\InprocServer32" /v ThreadingModel /d Both /f
  # The program runs as Windows XP unless a scenario names another version
  # (Wine's default, Windows 7, is not what most of the suite is about).
  bed_reg add 'HKCU\Software\Wine\AppDefaults\Halvotren.exe' /v Version /d winxp /f
  # Recorders in place of the programs Halvotren starts. They are used only
  # where a test asks for them with WINEDLLOVERRIDES (see tests/e2e/bed.py);
  # otherwise Wine's own built-in programs run.
  local windows="$WINEPREFIX/drive_c/windows"
  cp -f "$BED_FIXTURES/recorder.exe" "$windows/notepad.exe"
  cp -f "$BED_FIXTURES/recorder.exe" "$windows/system32/rundll32.exe"
  cp -f "$BED_FIXTURES/recorder.exe" "$windows/system32/msiexec.exe"
  cp -f "$BED_FIXTURES/recorder.exe" "$windows/system32/control.exe"
  local name
  # XP's firewall services, and those of Vista and later.
  for name in SharedAccess IpNat MpsSvc BFE; do
    if ! wine sc query "$name" >/dev/null 2>&1; then
      wine sc create "$name" binPath= "C:\\halvotren-bed\\fakesvc.exe $name" type= own start= demand >/dev/null 2>&1 || {
        bed_log "cannot create service $name"; return 1; }
    fi
  done
}

bed_up() {
  BED_BUILD="$(cd "$1" && pwd)"
  BED_DIR="$BED_BUILD/${2:-bed}"
  BED_FIXTURES="$BED_BUILD/tests/fixtures/bin"
  mkdir -p "$BED_DIR"
  export WINEPREFIX="$BED_DIR/prefix" WINEARCH=win32 WINEDEBUG=-all
  export HALVOTREN_BED_DIR="$BED_DIR"
  bed_start_display || return 1
  # A half-made prefix from an interrupted run is made again from scratch.
  bed_create_prefix || return 1
  # Services created in the prefix run only while this server lives.
  wineserver -p >"$BED_DIR/wineserver.log" 2>&1 || return 1
  BED_PREFIXES="${BED_PREFIXES:-} $WINEPREFIX"
  # One command first, alone, so that exactly one service manager starts.
  wine sc query >/dev/null 2>&1 || true
  bed_install_stand_ins || return 1
  # Wine's tray host ends with the last Wine program; this one keeps it up.
  wine "$BED_FIXTURES/driver.exe" idle >/dev/null 2>&1 &
  BED_PIDS="${BED_PIDS:-} $!"
  printf 'export WINEPREFIX=%q DISPLAY=%q WINEARCH=win32 WINEDEBUG=-all HALVOTREN_BED_DIR=%q\n' \
    "$WINEPREFIX" "$DISPLAY" "$BED_DIR" >"$BED_DIR/env"
  bed_log "ready: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY"
}

beds_up() {
  local build n
  build="$(cd "$1" && pwd)"
  # Every prefix first, while no server runs on any: the first made by
  # wineboot, the others copies of it.
  for ((n = 1; n <= $2; n++)); do
    BED_DIR="$build/bed$n" WINEPREFIX="$build/bed$n/prefix" WINEARCH=win32 WINEDEBUG=-all \
      BED_TEMPLATE="$( [ "$n" -gt 1 ] && echo "$build/bed1/prefix" )" bed_create_prefix || return 1
  done
  for ((n = 1; n <= $2; n++)); do bed_up "$build" "bed$n" || return 1; done
}

bed_down() {
  local pid prefix
  for pid in ${BED_PIDS:-}; do kill "$pid" 2>/dev/null || true; done
  for prefix in ${BED_PREFIXES:-}; do
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
  done
  for pid in ${BED_XVFB_PIDS:-}; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  BED_PIDS= BED_PREFIXES= BED_XVFB_PIDS=
}
