# Shared set-up for running the program and its tests under Wine. Sourced.
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-ts4170}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
TS_XVFB_DISPLAY=${TS_XVFB_DISPLAY:-:99}
# Colour depth of the screen ts_start_xvfb makes: 24, or 16 (8 is a palette screen).
TS_XVFB_DEPTH=${TS_XVFB_DEPTH:-24}

# Starts Xvfb on $TS_XVFB_DISPLAY unless an X server already answers there.
ts_start_xvfb() {
  (
    flock 9
    if ! xdpyinfo -display "$TS_XVFB_DISPLAY" >/dev/null 2>&1; then
      nohup Xvfb "$TS_XVFB_DISPLAY" -screen 0 "1280x1024x$TS_XVFB_DEPTH" -nolisten tcp >/dev/null 2>&1 9>&- &
      for _ in $(seq 1 100); do
        xdpyinfo -display "$TS_XVFB_DISPLAY" >/dev/null 2>&1 && break
        sleep 0.1
      done
    fi
  ) 9>/tmp/ts4170-xvfb.lock
}

# Makes the prefix once (no installer dialogs, GDI renderer so that windowed
# DirectDraw output reaches the X screen, no crash dialogs), keeps one wineserver alive and makes
# sure there is a display.
ts_wine_ready() {
  if [[ -z ${DISPLAY:-} ]]; then
    export DISPLAY=$TS_XVFB_DISPLAY
    ts_start_xvfb
  fi
  (
    flock 9
    if [[ ! -f $WINEPREFIX/.ts4170-ready-2 ]]; then
      wineboot -i >/dev/null 2>&1 9>&- || true
      wine reg add 'HKCU\Software\Wine\Direct3D' /v renderer /t REG_SZ /d gdi /f >/dev/null 2>&1 9>&-
      # A crashing test must end, not wait for someone to close a crash dialog.
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 9>&-
      wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1 9>&-
      touch "$WINEPREFIX/.ts4170-ready-2"
    fi
  ) 9>/tmp/ts4170-wineprefix.lock
  wineserver -p >/dev/null 2>&1 9>&- || true
}
