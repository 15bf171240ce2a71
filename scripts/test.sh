#!/usr/bin/env bash
# Builds both trees and runs every test: native (AddressSanitizer and
# UndefinedBehaviorSanitizer; the threaded tests once more under ThreadSanitizer),
# then the Windows tests and the end-to-end suite under Wine.
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
source scripts/deps.sh
source scripts/wine-env.sh
ts_deps || exit 1
ts_node_deps || exit 1
jobs=$(nproc)
logdir=build/test-logs
mkdir -p "$logdir"
status=0
passed=0
skipped=0
failed=0

summarise() { # name: adds the suite's counts from its log to the totals
  local line skips
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$logdir/$1.log" | tail -n 1)
  # CTest counts a skipped test among the passed ones, and lists it apart.
  skips=$(grep -cE '^[[:space:]]+[0-9]+ - .* \(Skipped\)$' "$logdir/$1.log")
  if [[ $line =~ ([0-9]+)%\ tests\ passed,\ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    passed=$((passed + BASH_REMATCH[3] - BASH_REMATCH[2] - skips))
    skipped=$((skipped + skips))
    failed=$((failed + BASH_REMATCH[2]))
  else
    failed=$((failed + 1))
  fi
}

run_ctest() { # name, build dir, extra ctest args...
  local name=$1 dir=$2
  shift 2
  echo "== $name"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$logdir/$name.log"
  ((PIPESTATUS[0] == 0)) || status=1
  summarise "$name"
}

# A Wine suite in a prefix, a display and a desktop of its own, so suites run side
# by side without sharing a pipe namespace, a broadcast domain or a screen; ends
# everything it started. Writes its log and its exit code.
# TS_TEST_PREFIX and TS_TEST_DISPLAY move the prefixes and displays, so that two
# checkouts can run their tests at once. TS_FRESH_PREFIX=1 starts the suite from a
# new prefix, for suites that install devices.
wine_suite() { # name, display offset, build dir, ctest args...
  local name=$1 number=$((${TS_TEST_DISPLAY:-101} + $2)) dir=$3
  shift 3
  (
    export WINEPREFIX=${TS_TEST_PREFIX:-$HOME/.wine-ts4170}-$name TS_XVFB_DISPLAY=:$number DISPLAY=:$number
    export TS_XVFB_PIDFILE=$logdir/$name.xvfb.pid TS_XVFB_DEPTH=${TS_XVFB_DEPTH:-24} TS_LOGPIXELS=${TS_LOGPIXELS:-}
    rm -f "$TS_XVFB_PIDFILE"
    [[ -n ${TS_FRESH_PREFIX:-} ]] && rm -rf "$WINEPREFIX"
    started=$SECONDS
    ts_start_xvfb
    rc=1
    if ts_wine_desktop "$dir/tools/ts_window.exe"; then
      local desktop current left
      desktop=$(ts_wine_desktop_pid)
      ctest --test-dir "$dir" --output-on-failure "$@" >"$logdir/$name.log" 2>&1
      rc=$?
      # A desktop process started during the suite was started by a test, and
      # holds that test's standard streams: CTest's pipe.
      current=$(ts_wine_desktop_pid)
      if [[ -z $desktop || $current != "$desktop" ]]; then
        echo "Wine's desktop (pid ${desktop:-none}) did not last the suite: now ${current:-none}." >>"$logdir/$name.log"
        rc=1
      fi
      left=$(ts_wine_leftovers)
      if [[ -n $left ]]; then
        printf 'Processes that outlived the tests:\n%s\n' "$left" >>"$logdir/$name.log"
        rc=1
      fi
    fi
    wineserver -k 2>/dev/null
    [[ -f $TS_XVFB_PIDFILE ]] && kill "$(cat "$TS_XVFB_PIDFILE")" 2>/dev/null
    echo "suite $name: $((SECONDS - started)) s" >>"$logdir/$name.log"
    echo $rc >"$logdir/$name.rc"
  ) </dev/null &
}

build() { # build dir, cmake args... [--label label] [--targets "t..."]: with a label, only its tests
  local dir=$1 args=() label= targets=()
  shift
  while (($#)); do
    case $1 in
      --label) label=$2; shift 2 ;;
      --targets) targets=(--target $2); shift 2 ;;
      *) args+=("$1"); shift ;;
    esac
  done
  cmake -S . -B "$dir" -G "Unix Makefiles" "${args[@]}" >/dev/null &&
    if [[ -n $label ]]; then
      # A test is named after the executable it runs.
      targets=(--target $(ctest --test-dir "$dir" -N -L "$label" | sed -n 's/^ *Test *#[0-9]*: //p'))
    fi &&
    cmake --build "$dir" -j "$jobs" "${targets[@]}" -- --no-print-directory >"$dir.build.log" 2>&1
  local rc=$?
  if ((rc != 0)); then
    tail -n 60 "$dir.build.log"
    echo "Build of $dir failed"
  fi
  return $rc
}

# One prefix, made while the MinGW tree builds; every suite's new prefix is a copy
# of it (see ts_wine_ready). Made under another name and renamed once its
# wineserver has written the registry, so a run cut short leaves no half prefix.
export TS_WINE_TEMPLATE=${TS_TEST_PREFIX:-$HOME/.wine-ts4170}-template
if [[ ! -f $TS_WINE_TEMPLATE/.ts4170-ready-3 ]]; then
  (
    number=$((${TS_TEST_DISPLAY:-101} + 9))
    export WINEPREFIX=$TS_WINE_TEMPLATE.new TS_XVFB_DISPLAY=:$number DISPLAY=:$number
    export TS_XVFB_PIDFILE=$logdir/template.xvfb.pid
    rm -rf "$WINEPREFIX" "$TS_WINE_TEMPLATE"
    ts_start_xvfb
    ts_wine_ready
    wineserver -k
    wineserver -w
    [[ -f $TS_XVFB_PIDFILE ]] && kill "$(cat "$TS_XVFB_PIDFILE")"
    mv "$WINEPREFIX" "$TS_WINE_TEMPLATE"
  ) </dev/null >/dev/null 2>&1 &
  template=$!
fi

# The MinGW tree first: its Wine suites then run in the background while the
# native trees build and run.
wine_names=()
if build build/windows -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake; then
  [[ -n ${template:-} ]] && wait "$template"
  # Tests that show windows read what is on their screen, so within a suite they
  # run one at a time; the suites run side by side, each on a screen of its own.
  wine_suite windows 0 build/windows -LE 'e2e|hid|product' -j 1
  # The endurance tests take as long as the rest of the end-to-end suite: a suite
  # of their own.
  wine_suite e2e 1 build/windows -L e2e -E '^sim_endurance_e2etest$' -j 1
  wine_suite endurance 8 build/windows -R '^sim_endurance_e2etest$' -j 1
  # The picture at the other colour depths a Windows screen can have: 16 bits,
  # and 8 with a palette.
  depth_tests='^(screen_.*_wintest|sim_fidelity_e2etest)$'
  TS_XVFB_DEPTH=16 wine_suite depth16 2 build/windows -R "$depth_tests" -j 1
  TS_XVFB_DEPTH=8 wine_suite depth8 3 build/windows -R "$depth_tests" -j 1
  # The layout and the mirror on screens of higher dpi.
  dpi_tests='^(app_dpi_wintest|sim_view_e2etest)$'
  TS_LOGPIXELS=120 wine_suite dpi120 4 build/windows -R "$dpi_tests" -j 1
  TS_LOGPIXELS=144 wine_suite dpi144 5 build/windows -R "$dpi_tests" -j 1
  TS_LOGPIXELS=192 wine_suite dpi192 6 build/windows -R "$dpi_tests" -j 1
  wine_names=(windows e2e endurance depth16 depth8 dpi120 dpi144 dpi192)
else
  status=1; failed=$((failed + 1))
fi

# The 32-bit build: the programs and the end-to-end suites of the mirror, the
# keys, the dialogs and the recording, on the 32-bit program and simulator.
# Then the release from both trees, and its packages installed under Wine.
e2e32_tests='sim_fidelity_e2etest sim_view_e2etest control_e2etest record_e2etest'
if ((${#wine_names[@]})) &&
  build build/windows-i686 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
    --targets "Virtual_TS4170 TS4170_Simulator ts_window $e2e32_tests"; then
  wine_suite e2e32 9 build/windows-i686 -R "^(${e2e32_tests// /|})\$" -j 1
  wine_names+=(e2e32)
  export TS_RELEASE_TREES="x86_64=build/windows i686=build/windows-i686"
  if bash scripts/release.sh >"$logdir/release.log" 2>&1; then
    cat "$logdir/release.log"
    wine_suite package 7 build/windows -R '^package_test$' -j 1
    wine_names+=(package)
  else
    cat "$logdir/release.log"
    status=1; failed=$((failed + 1))
  fi
else
  status=1; failed=$((failed + 1))
fi

if build build/native -DCMAKE_BUILD_TYPE=Debug -DTS_SANITIZE=address,undefined; then
  run_ctest native build/native
else
  status=1; failed=$((failed + 1))
fi
# Under ThreadSanitizer only the threaded tests run, so only they are built.
if build build/native-tsan -DCMAKE_BUILD_TYPE=Debug -DTS_SANITIZE=thread --label threads; then
  run_ctest native-tsan build/native-tsan -L threads
else
  status=1; failed=$((failed + 1))
fi

wait
echo "every suite but the one over HID: $SECONDS s"
if ((${#wine_names[@]})); then
  # The end-to-end suites once more over a real HID device: the stand-in driver
  # under Wine's HID class stack, in a new prefix (the driver starts in the
  # prefix's second session, which the desktop's start makes). It runs alone:
  # Wine's device service passes each report through two more processes, and on
  # a machine busy with the other suites it fell behind the class driver's queue
  # of 256 reports that the program sets.
  # The test of the production HID path makes a prefix of its own.
  hid_tests='^(hid_class_stack_test|hid_control_security_test|link_e2etest|control_e2etest|record_e2etest|sim_fidelity_e2etest|sim_endurance_e2etest|sim_share_e2etest)$'
  TS_FRESH_PREFIX=1 TS_E2E_TRANSPORT=hid wine_suite hid 7 build/windows -R "$hid_tests" -j 1
  wait
  wine_names+=(hid)
fi
for name in "${wine_names[@]}"; do
  echo "== $name"
  cat "$logdir/$name.log"
  [[ $(cat "$logdir/$name.rc" 2>/dev/null) == 0 ]] || status=1
  summarise "$name"
done

echo
echo "total: $passed passed, $failed failed, $skipped skipped"
exit $status
