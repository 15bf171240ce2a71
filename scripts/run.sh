#!/usr/bin/env bash
# Builds the program and runs it under Wine with the virtual instrument, so it
# mirrors a live instrument. With a display it opens there; without one it runs on
# a virtual display and writes a screenshot of the running program.
#   scripts/run.sh [--hid]   (--hid: the instrument as a HID device on Wine's
#                             HID class stack instead of the pipe)
set -euo pipefail
sim_args=("$@")
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
source scripts/deps.sh
ts_deps || { echo "Installing what the program needs failed: see apt-get's message above." >&2; exit 1; }
source scripts/tree.sh
build=build/windows
ts_tree windows Virtual_TS4170 ts_window TS4170_Simulator TS4170_HidInstall || exit 1
program=$build/app/Virtual_TS4170.exe
simulator=$build/sim/TS4170_Simulator.exe
caption='Виртуальный дефектоскоп ТС4170 V18.09'
sim_caption=${TS_SIM_CAPTION:-'Виртуальный ТС4170'}

window() { wine "$build/tools/ts_window.exe" "$@"; }

if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
  ts_wine_ready || exit 1
  ts_wine_services
  if [[ -x $simulator ]]; then
    wine "$simulator" "${sim_args[@]}" &
    window wait "$sim_caption" 60 || true
  fi
  wine "$program"
  [[ -x $simulator ]] && window close "$sim_caption" || true
  wait
  exit 0
fi

# No display: a virtual one, Wine's own desktop (so windows get their frames),
# a screenshot once the main window is up, then a clean stop.
export DISPLAY=${TS_XVFB_DISPLAY}
ts_start_xvfb
ts_wine_ready || exit 1
ts_wine_services
desktop=/desktop=TS4170,1024x768
window() { wine "$build/tools/ts_window.exe" --desktop TS4170 "$@"; }
if [[ -x $simulator ]]; then
  wine explorer "$desktop" "$simulator" "${sim_args[@]}" >/dev/null 2>&1 &
  window wait "$sim_caption" 60 || true
fi
wine explorer "$desktop" "$program" >/dev/null 2>&1 &
program_pid=$!
if ! window wait "$caption" 60; then
  echo "The main window did not appear within 60 seconds." >&2
  exit 1
fi
# Let the first data-rate tick and a few frames of the instrument arrive: this is
# a picture for a person, not a test.
sleep 3
shot=$top/build/Virtual_TS4170-screenshot.png
/usr/bin/import -display "$DISPLAY" -window root -crop 1024x768+0+0 +repage "$shot"
echo "Screenshot of the running program: $shot"
window close "$caption" || true
[[ -x $simulator ]] && window close "$sim_caption" || true
wait "$program_pid" 2>/dev/null || true
