#!/usr/bin/env bash
# Builds the trees and runs every test once: the portable tests natively under
# AddressSanitizer and UndefinedBehaviorSanitizer (the threaded ones once more
# under ThreadSanitizer) and a format check; the Windows tests and the
# end-to-end suites under Wine, each suite in a prefix, display and virtual
# desktop of its own; the end-to-end suites over the pipe and over the stand-in
# HID device; the screen at 16 and 8 bits and at 192 dpi; the long suite (soaks,
# storms, fuzzing) beside the rest; the 32-bit programs where the machine runs
# them; the release and its packages. Prints each suite's log and the cases'
# totals, and exits non-zero on any failure.
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
source scripts/deps.sh
source scripts/tree.sh
ts_deps || exit 1
ts_node_deps || { echo "The browser tests' Node packages could not be installed (npm ci in tests/e2e/share/browser)."; exit 1; }
started=$SECONDS
logdir=$top/build/test-logs
rm -rf "$logdir"
mkdir -p "$logdir"
status=0 passed=0 failed=0 skipped=0
suites=()

# Adds a suite's cases to the totals. A test program leaves the counts of its
# cases (tests/TestMain.cpp; a TAP file for the browser tests); a test that left
# none counts as one case, and a test CTest failed counts as a failure even when
# its cases passed (a crash at exit, a process left behind, a time-out).
summarise() { # suite
  local suite=$1 line name result counts p f s
  while read -r line; do
    [[ $line =~ Test\ +#[0-9]+:\ ([^ ]+)\ \.+[^A-Za-z]*([A-Za-z]+) ]] || continue
    name=${BASH_REMATCH[1]} result=${BASH_REMATCH[2]}
    counts=$logdir/counts/$suite/$name
    if [[ -f $counts.counts ]] && read -r p _ f _ s _ <"$counts.counts"; then
      :
    elif [[ -f $counts.tap ]]; then
      p=$(sed -n 's/^# pass //p' "$counts.tap") f=$(sed -n 's/^# fail //p' "$counts.tap")
      s=$(sed -n 's/^# skipped //p' "$counts.tap")
    else
      p=0 f=0 s=0
      case $result in Passed) p=1 ;; Skipped) s=1 ;; esac
    fi
    [[ $result == Passed || $result == Skipped ]] || ((f > 0)) || f=1
    passed=$((passed + ${p:-0})) failed=$((failed + ${f:-0})) skipped=$((skipped + ${s:-0}))
  done < <(grep -E 'Test +#[0-9]+:' "$logdir/$suite.log")
  # A suite that ran nothing, or died before CTest's summary, failed.
  grep -qE 'tests passed, [0-9]+ tests failed out of [1-9]' "$logdir/$suite.log" || failed=$((failed + 1))
}

# A native suite: CTest in the foreground of its own background job.
native_suite() { # suite, tree, ctest args...
  local suite=$1 dir=$2
  shift 2
  mkdir -p "$logdir/counts/$suite"
  TS_CASE_COUNTS=$logdir/counts/$suite ctest --test-dir "$dir" --output-on-failure -j 2 "$@" >"$logdir/$suite.log" 2>&1
  echo $? >"$logdir/$suite.rc"
}

# A Wine suite in a prefix, a display and a desktop of its own, so suites run side
# by side without sharing a pipe namespace, a broadcast domain or a screen; ends
# everything it started. Tests that show windows read what is on their screen,
# so within a suite they run one at a time.
# TS_TEST_PREFIX and TS_TEST_DISPLAY move the prefixes and displays, so that two
# checkouts can run their tests at once. TS_FRESH_PREFIX=1 starts the suite from a
# new prefix, for suites that install devices.
wine_suite() { # suite, display offset, tree, ctest args...
  local suite=$1 number=$((${TS_TEST_DISPLAY:-101} + $2)) dir=$3
  shift 3
  (
    export WINEPREFIX=${TS_TEST_PREFIX:-$HOME/.wine-ts4170}-$suite TS_XVFB_DISPLAY=:$number DISPLAY=:$number
    export TS_XVFB_PIDFILE=$logdir/$suite.xvfb.pid TS_XVFB_DEPTH=${TS_XVFB_DEPTH:-24} TS_LOGPIXELS=${TS_LOGPIXELS:-}
    export TS_CASE_COUNTS=$logdir/counts/$suite
    mkdir -p "$TS_CASE_COUNTS"
    [[ -n ${TS_FRESH_PREFIX:-} ]] && rm -rf "$WINEPREFIX"
    local from=$SECONDS rc=1
    ts_start_xvfb
    if ts_wine_desktop "$dir/tools/ts_window.exe" 2>"$logdir/$suite.log"; then
      local desktop current left
      desktop=$(ts_wine_desktop_pid)
      ctest --test-dir "$dir" --output-on-failure -j 1 "$@" >"$logdir/$suite.log" 2>&1
      rc=$?
      # A desktop process started during the suite was started by a test, and
      # holds that test's standard streams: CTest's pipe.
      current=$(ts_wine_desktop_pid)
      if [[ -z $desktop || $current != "$desktop" ]]; then
        echo "Wine's desktop (pid ${desktop:-none}) did not last the suite: now ${current:-none}." >>"$logdir/$suite.log"
        rc=1
      fi
      left=$(ts_wine_leftovers)
      if [[ -n $left ]]; then
        printf 'Processes that outlived the tests:\n%s\n' "$left" >>"$logdir/$suite.log"
        rc=1
      fi
    fi
    wineserver -k 2>/dev/null
    [[ -f $TS_XVFB_PIDFILE ]] && kill "$(cat "$TS_XVFB_PIDFILE")" 2>/dev/null
    echo "suite $suite: $((SECONDS - from)) s" >>"$logdir/$suite.log"
    echo $rc >"$logdir/$suite.rc"
  ) </dev/null
}

# A suite whose programs are 32-bit, on a machine that cannot run them: each of
# its tests shows as skipped, with the reason.
skipped_suite() { # suite, tree, ctest args...
  local suite=$1 dir=$2 name
  shift 2
  {
    echo "$TS_64BIT_ONLY_NOTE"
    ctest --test-dir "$dir" -N "$@" | sed -n 's/^ *Test *#[0-9]*: //p' | while read -r name; do
      echo "    Test #0: $name ....   Skipped (not run: 32-bit)"
    done
    echo "100% tests passed, 0 tests failed out of 1"
  } >"$logdir/$suite.log"
  echo 0 >"$logdir/$suite.rc"
}

# One prefix, made while the trees build; every suite's new prefix is a copy
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
  ) </dev/null >"$logdir/template.log" 2>&1 &
  template=$!
fi

# The 64-bit Windows tree first: its suites are most of the run, five chains
# of them side by side. The native trees and the 32-bit programs (for the
# release, whose packages are tested under Wine too) build beside them.
if ts_tree windows; then
  [[ -n ${template:-} ]] && wait "$template"
  echo "built the 64-bit Windows tree: $((SECONDS - started)) s"
  # Everything on the plain screen, then the layout and the mirror at 192 dpi
  # (at 120 and 144 the mirror's scale is 1, as at 96).
  (
    wine_suite windows 0 build/windows -LE 'e2e|hid|product|long'
    TS_LOGPIXELS=192 wine_suite dpi192 4 build/windows -R '^(app_dpi_wintest|sim_view_e2etest)$'
  ) &
  # The picture at the other colour depths a Windows screen can have: 16 bits,
  # and 8 with a palette; then the soaks and storms over HID, which make the
  # longest chain behind the soaks over the pipe.
  (
    depth_tests='^(screen_(mirror|picturetools)_wintest|sim_fidelity_e2etest)$'
    TS_XVFB_DEPTH=16 wine_suite depth16 2 build/windows -R "$depth_tests"
    TS_XVFB_DEPTH=8 wine_suite depth8 3 build/windows -R "$depth_tests"
    TS_FRESH_PREFIX=1 TS_E2E_TRANSPORT=hid wine_suite long-hid 7 build/windows -R '^sim_endurance_e2etest$'
  ) &
  # The end-to-end suites over the pipe and over a real HID device: the stand-in
  # driver under Wine's HID class stack, in a new prefix (the driver starts in
  # the prefix's second session, which the desktop's start makes).
  wine_suite e2e 1 build/windows -L e2e -LE long &
  hid_tests='^(hid_class_stack_test|hid_control_security_test|link_e2etest|control_e2etest|record_e2etest|sim_fidelity_e2etest|sim_share_e2etest)$'
  TS_FRESH_PREFIX=1 TS_E2E_TRANSPORT=hid wine_suite hid 5 build/windows -R "$hid_tests" &
  # Soaks, storms and fuzzing (over HID above).
  wine_suite long 6 build/windows -L long &
  # The portable tests under the sanitizers, with their long cases; and the
  # threaded ones under ThreadSanitizer, built beside them rather than after.
  (
    if BUILD_NICE=5 ts_tree native >"$logdir/native.log" 2>&1; then
      native_suite native build/native
    else
      echo 1 >"$logdir/native.rc"
    fi
  ) &
  (
    # Configured first (with the one library every test links), to name the targets.
    if BUILD_NICE=5 ts_tree native-tsan ts_test_main >"$logdir/native-tsan.log" 2>&1 &&
      BUILD_NICE=5 ts_tree native-tsan $(ts_test_targets build/native-tsan -L threads -LE long) >"$logdir/native-tsan.log" 2>&1; then
      native_suite native-tsan build/native-tsan -L threads -LE long
    else
      echo 1 >"$logdir/native-tsan.rc"
    fi
  ) &
  suites+=(windows dpi192 depth16 depth8 e2e hid long long-hid native native-tsan)

  # The 32-bit programs: built and packaged everywhere, their end-to-end suites
  # (the mirror, the keys, the dialogs, the recording) run where the machine
  # runs 32-bit code. Then the release from both trees, and its packages.
  e2e32_tests='sim_fidelity_e2etest sim_view_e2etest control_e2etest record_e2etest'
  i686_targets=(Virtual_TS4170 TS4170_Simulator)
  ts_runs_32bit && i686_targets+=(ts_window $e2e32_tests)
  if ts_tree windows-i686 "${i686_targets[@]}"; then
    if ts_runs_32bit; then
      wine_suite e2e32 8 build/windows-i686 -R "^(${e2e32_tests// /|})\$" &
    else
      skipped_suite e2e32 build/windows-i686 -R "^(${e2e32_tests// /|})\$"
    fi
    suites+=(e2e32)
    # The package test makes releases of its own (signed, refused) from the same trees.
    export TS_RELEASE_TREES="x86_64=build/windows i686=build/windows-i686"
    if bash scripts/release.sh >"$logdir/release.log" 2>&1; then
      cat "$logdir/release.log"
      wine_suite package 9 build/windows -R '^package_test$' &
      suites+=(package)
    else
      cat "$logdir/release.log"
      status=1 failed=$((failed + 1))
    fi
  else
    status=1 failed=$((failed + 1))
  fi
else
  status=1 failed=$((failed + 1))
fi

wait
for suite in "${suites[@]}"; do
  echo "== $suite"
  cat "$logdir/$suite.log"
  [[ $(cat "$logdir/$suite.rc" 2>/dev/null) == 0 ]] || status=1
  summarise "$suite"
done
echo "every suite: $((SECONDS - started)) s"
echo
echo "total: $passed passed, $failed failed, $skipped skipped"
((failed == 0)) || status=1
exit $status
