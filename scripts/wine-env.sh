# Shared set-up for running the program and its tests under Wine. Sourced.

# Whether this machine's kernel runs 32-bit x86 programs: some machines of our
# kind run 64-bit user code only. A 93-byte i386 program that only exits
# answers without any 32-bit library. TS_RUNS_32BIT=0 or 1 forces the answer.
ts_runs_32bit() {
  [[ -n ${TS_RUNS_32BIT:-} ]] && { [[ $TS_RUNS_32BIT == 1 ]]; return; }
  local probe
  probe=$(mktemp) || return 1
  printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x5d\0\0\0\x5d\0\0\0\x05\0\0\0\0\x10\0\0\xb8\x01\0\0\0\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  local rc=$?
  rm -f "$probe"
  return $rc
}
TS_64BIT_ONLY_NOTE="this machine runs 64-bit programs only: the 32-bit programs are built and packaged, not run"

# Where the kernel refuses 32-bit code, Debian's wine starts its 32-bit loader
# whenever Wine's 32-bit side is installed, and then no program runs at all:
# Wine's commands go to the 64-bit loader instead.
if ! ts_runs_32bit; then
  export TS_RUNS_32BIT=0 WINELOADER=/usr/lib/wine/wine64
  ts_wine64_bin=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64-only
  [[ :$PATH: == *":$ts_wine64_bin:"* ]] || export PATH=$ts_wine64_bin:$PATH
else
  export TS_RUNS_32BIT=1
fi
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-ts4170}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
TS_XVFB_DISPLAY=${TS_XVFB_DISPLAY:-:99}
# Colour depth of the screen ts_start_xvfb makes: 24, 16, or 8 (a palette screen).
TS_XVFB_DEPTH=${TS_XVFB_DEPTH:-24}
TS_SCREEN_SIZE=${TS_SCREEN_SIZE:-1280x1024}

# Starts Xvfb on $TS_XVFB_DISPLAY unless an X server already answers there; its
# PID goes to $TS_XVFB_PIDFILE when that is set, so whoever asked can end it.
ts_start_xvfb() {
  (
    flock 9
    if ! xdpyinfo -display "$TS_XVFB_DISPLAY" >/dev/null 2>&1; then
      setsid Xvfb "$TS_XVFB_DISPLAY" -screen 0 "${TS_SCREEN_SIZE}x$TS_XVFB_DEPTH" -nolisten tcp \
        </dev/null >"/tmp/ts4170-xvfb${TS_XVFB_DISPLAY#:}.log" 2>&1 9>&- &
      [[ -n ${TS_XVFB_PIDFILE:-} ]] && echo $! >"$TS_XVFB_PIDFILE"
      for _ in $(seq 1 100); do
        xdpyinfo -display "$TS_XVFB_DISPLAY" >/dev/null 2>&1 && break
        sleep 0.1
      done
    fi
  ) 9>"/tmp/ts4170-xvfb${TS_XVFB_DISPLAY#:}.lock"
}

# Writes the registry settings on standard input (.reg sections) into the prefix,
# all in one start of Wine's reg.exe.
ts_wine_reg_import() {
  local file=$WINEPREFIX/drive_c/ts4170-settings.reg
  { echo REGEDIT4; echo; cat; } >"$file"
  # Into both views of the registry: with Wine's 32-bit side installed, `wine
  # reg` may be the 32-bit reg.exe, which sees only its own.
  wine reg import 'C:\ts4170-settings.reg' /reg:64 </dev/null >/dev/null 2>&1
  wine reg import 'C:\ts4170-settings.reg' /reg:32 </dev/null >/dev/null 2>&1
  rm -f "$file"
}

# Makes the prefix once (no installer dialogs, GDI renderer so that windowed
# DirectDraw output reaches the X screen, no crash dialogs), keeps one wineserver
# alive and makes sure there is a display. With TS_WINE_TEMPLATE naming a prefix
# made this way and no longer in use, a new prefix is a copy of it: a copy takes
# a fraction of a second, wineboot several seconds of CPU. System32's files, nine
# tenths of a prefix, are hard links: Wine only reads them, and a run makes a
# dozen prefixes.
ts_wine_ready() {
  if [[ -z ${DISPLAY:-} ]]; then
    export DISPLAY=$TS_XVFB_DISPLAY
    ts_start_xvfb
  fi
  (
    flock 9
    # A prefix without this marker is half made or of an older set-up (Wine's
    # 32-bit side missing): copied over, it kept the desktop from starting.
    if [[ ! -f $WINEPREFIX/.ts4170-ready-3 && -f ${TS_WINE_TEMPLATE:-}/.ts4170-ready-3 ]]; then
      rm -rf "$WINEPREFIX"
      local system=drive_c/windows/system32
      mkdir -p "$WINEPREFIX/${system%/*}" &&
        tar -C "$TS_WINE_TEMPLATE" --exclude="./$system" -cf - . | tar -C "$WINEPREFIX" -xf - &&
        cp -al "$TS_WINE_TEMPLATE/$system" "$WINEPREFIX/${system%/*}/"
    fi
    if [[ ! -f $WINEPREFIX/.ts4170-ready-3 ]]; then
      local boot=/tmp/ts4170-wineboot-$(basename "$WINEPREFIX").log
      wineboot -i </dev/null >"$boot" 2>&1 9>&- || true
      if [[ ! -f $WINEPREFIX/drive_c/windows/system32/kernel32.dll ]]; then
        {
          echo "Wine could not make its prefix $WINEPREFIX. Wine said:"
          tail -n 5 "$boot"
          grep -q 'Exec format error' "$boot" &&
            echo "This machine runs no 32-bit programs: remove Wine's 32-bit side (apt-get remove wine32:i386)."
        } >&2
        return 1
      fi
      # A crashing test must end, not wait for someone to close a crash dialog.
      ts_wine_reg_import 9>&- <<'EOF'
[HKEY_CURRENT_USER\Software\Wine\Direct3D]
"renderer"="gdi"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=""
EOF
      touch "$WINEPREFIX/.ts4170-ready-3"
    fi
  ) 9>"/tmp/ts4170-prefix-$(basename "$WINEPREFIX").lock" || return 1
  wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
}

# Wine's services start with the first program of a session and inherit its
# standard streams: started from a program whose output is piped, they hold
# the pipe open for as long as the wineserver lives. Started here first, with
# no streams, they hold none of the caller's.
ts_wine_services() { wineboot </dev/null >/dev/null 2>&1 || true; }

# For the tests: every window of the prefix inside one Wine virtual desktop, where
# windows are Wine's own and map at once. Wine starts its desktop process lazily
# from the first program that needs it, and that process inherits the program's
# standard streams: started from a test, it holds CTest's pipe open after the test
# has ended, and CTest waits. Wine also ends a desktop a second after the last
# program on it has ended, so one started before the tests would not outlast a
# pause between two of them. So a holder program ($1, ts_window.exe), detached
# and with no streams, starts the desktop and keeps it until the wineserver ends.
# The wineserver starts afresh, so no desktop of an earlier run is in the way.
ts_wine_desktop() { # holder
  local holder=$1
  ts_wine_ready || return 1
  local settings=()
  if [[ ! -f $WINEPREFIX/.ts4170-desktop ]]; then
    settings+=('[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' ''
      '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' "\"Default\"=\"$TS_SCREEN_SIZE\"" '')
  fi
  # TS_LOGPIXELS gives the prefix a screen of that dpi (96 is Windows' default).
  if [[ -n ${TS_LOGPIXELS:-} && ! -f $WINEPREFIX/.ts4170-dpi-$TS_LOGPIXELS ]]; then
    local dpi
    dpi=$(printf '"LogPixels"=dword:%08x' "$TS_LOGPIXELS")
    settings+=('[HKEY_CURRENT_USER\Control Panel\Desktop]' "$dpi" ''
      '[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts]' "$dpi" '')
  fi
  if ((${#settings[@]})); then
    printf '%s\n' "${settings[@]}" | ts_wine_reg_import
    touch "$WINEPREFIX/.ts4170-desktop"
    if [[ -n ${TS_LOGPIXELS:-} ]]; then
      rm -f "$WINEPREFIX"/.ts4170-dpi-*
      touch "$WINEPREFIX/.ts4170-dpi-$TS_LOGPIXELS"
    fi
  fi
  wineserver -k 2>/dev/null
  wineserver -w
  wineserver -p </dev/null >/dev/null 2>&1
  # Its errors go to a file of the prefix, read only if it does not come up.
  local log=$WINEPREFIX/desktop.log
  WINEDEBUG=err+all,fixme-all setsid wine "$holder" hold </dev/null >"$log" 2>&1 &
  # The desktop is up once its X window is. With Wine's 32-bit side installed,
  # eight prefixes booting at once on two cores took over 30 s to show it.
  for _ in $(seq 1 1800); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Default - Wine desktop"' && return 0
    sleep 0.1
  done
  {
    echo "Wine's desktop did not start in $WINEPREFIX within 180 s"
    xdpyinfo >/dev/null 2>&1 && echo "The X server $DISPLAY answers." || echo "The X server $DISPLAY does not answer."
    echo "Wine's processes:"
    ps -eo pid,etimes,time,args | grep -E '[w]ineserver|[e]xplorer|[s]ervices\.exe|[X]vfb'
    echo "The desktop's errors:"
    cat "$log"
    echo "The X server's messages:"
    cat "/tmp/ts4170-xvfb${DISPLAY#:}.log" 2>/dev/null
  } >&2
  return 1
}

# Prints "pid command" for each of the prefix's Wine processes.
ts_wine_processes() {
  local pid cmd
  for pid in $(pgrep -f '\.exe'); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
    cmd=$({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null)
    [[ -n $cmd ]] && echo "$pid $cmd"
  done
}

# The PID of the prefix's desktop process, if one runs.
ts_wine_desktop_pid() {
  ts_wine_processes | sed -n 's/^\([0-9]*\) C:\\windows\\system32\\explorer\.exe \/desktop.*/\1/p' | head -n 1
}

# Prints the prefix's processes that are not Wine's own services: after a suite,
# anything listed was started by a test and outlived it.
ts_wine_leftovers() {
  local pid cmd
  while read -r pid cmd; do
    [[ $cmd =~ ^(C:\\windows\\system32\\)?(services|winedevice|plugplay|svchost|rpcss|explorer|start)\.exe ]] && continue
    [[ $cmd =~ ts_window\.exe\ hold ]] && continue
    echo "$pid $cmd"
  done < <(ts_wine_processes)
}
