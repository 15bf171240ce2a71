#!/usr/bin/env bash
# Runs a Windows program in a fresh Wine prefix of its own, for tests that plug
# HID devices: they install a driver and must neither see nor leave devices in
# anyone else's prefix. The prefix and its wineserver go when it ends.
#   hid-prefix.sh PROGRAM.exe [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
prefix=$(mktemp -d /tmp/ts4170-hid.XXXXXX)
export WINEPREFIX=$prefix
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  timeout 30 wineserver -w >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
source "$here/../../../scripts/wine-env.sh"
started=$(date +%s.%N)
ts_wine_ready
# In the session that made the prefix, Wine does not start a newly installed
# driver (StartService answers ERROR_SERVICE_DATABASE_LOCKED, however long one
# waits); in the next session it does.
wineserver -k >/dev/null 2>&1 || true
timeout 30 wineserver -w >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 || true
echo "hid-prefix: prefix ready in $(echo "$(date +%s.%N) - $started" | bc) s" >&2
wine "$@"
