#!/usr/bin/env bash
# Lists and counts the program's mutable namespace-scope variables and mutable
# function statics: every object in a writable data section (.data, .bss) of the
# objects built from the program's own sources in a MinGW build tree. Constants
# sit in .rdata and are not counted; each variable is counted once however many
# objects define it (inline variables). Only the program's namespace: a
# library's own statics are the library's business. Objects whose source is
# gone from the tree are left out.
# Usage: scripts/count-globals.sh [build dir, default build/windows]
set -euo pipefail
dir=${1:-build/windows}
root=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$dir/CMakeCache.txt")
objects=()
while IFS= read -r -d '' object; do
  relative=${object#"$dir"/}
  source=$root/${relative%%/*}/${relative#*.dir/}
  [[ -f ${source%.obj} ]] && objects+=("$object")
done < <(find "$dir"/{app,control,link,record,screen,share,ui} -path '*/CMakeFiles/*' -name '*.obj' -print0)
symbols=$(x86_64-w64-mingw32-nm -C --defined-only "${objects[@]}" 2>/dev/null |
  awk '$2 ~ /^[BbDd]$/ { $1 = ""; $2 = ""; sub(/^  /, ""); print }' |
  sed 's/(anonymous namespace)/{anonymous}/g' | grep '^ts::' | sort -u)
statics=$(grep -E '\)(::|\[abi:[^]]*\]::)' <<<"$symbols" || true)
globals=$(grep -v -E '\)(::|\[abi:[^]]*\]::)' <<<"$symbols" || true)
echo "$globals" | sed 's/^/namespace scope: /'
echo "$statics" | sed 's/^/function static: /'
echo "namespace scope: $(grep -c . <<<"$globals"), function statics: $(grep -c . <<<"$statics")"
