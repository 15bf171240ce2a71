#!/usr/bin/env bash
# Lists and counts the program's mutable namespace-scope variables and mutable
# function statics: every object in a writable data section (.data, .bss) of the
# objects built from the program's own sources in a MinGW build tree. Constants
# sit in .rdata and are not counted; each variable is counted once however many
# objects define it (inline variables). Only the program's namespace: a
# library's own statics are the library's business.
# Usage: scripts/count-globals.sh [build dir, default build/windows]
set -euo pipefail
dir=${1:-build/windows}
symbols=$(find "$dir"/{app,control,link,record,screen,share,ui} -path '*/CMakeFiles/*' -name '*.obj' -print0 |
  xargs -0 x86_64-w64-mingw32-nm -C --defined-only |
  awk '$2 ~ /^[BbDd]$/ { $1 = ""; $2 = ""; sub(/^  /, ""); print }' |
  sed 's/(anonymous namespace)/{anonymous}/g' | grep '^ts::' | sort -u)
statics=$(grep -E '\)(::|\[abi:[^]]*\]::)' <<<"$symbols" || true)
globals=$(grep -v -E '\)(::|\[abi:[^]]*\]::)' <<<"$symbols" || true)
echo "$globals" | sed 's/^/namespace scope: /'
echo "$statics" | sed 's/^/function static: /'
echo "namespace scope: $(grep -c . <<<"$globals"), function statics: $(grep -c . <<<"$statics")"
