#!/usr/bin/env bash
# The release as a lab receives it, under Wine in the prefix it is given: the
# archives' programs (architecture, no debug sections or symbols, resources as
# Windows reads them, the notices of what they link), the sums, signing with a
# throwaway certificate, and the MSIs installed, run, upgraded and removed, the
# two architectures' packages over each other, a damaged one refused. Where the
# machine runs 64-bit programs only, the cases that run a 32-bit one skip.
# package-test.sh SOURCE-DIR BUILD-DIR DIST-DIR
set -uo pipefail
top=$1 build=$2 dist=$3
source "$top/scripts/wine-env.sh"
# Wine's menu builder would copy the shortcuts into the Unix user's desktop menus.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
version=$(sed -n 's/^project(Virtual_TS4170 VERSION \([0-9.]*\) .*/\1/p' "$top/CMakeLists.txt")
publisher=$(sed -n 's/^set(TS_PUBLISHER "\(.*\)")$/\1/p' "$top/CMakeLists.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0

# Runs one case: its output goes to the log and is shown when it fails.
case_() { # name, function
  local name=$1 log=$work/$1.log
  shift
  if "$@" >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "[  PASSED  ] $name"
    sed 's/^/    /' "$log" | grep -E '^    (show|shortcut|installed|upgraded|removed|refused)|: version ' || true
  else
    failed=$((failed + 1))
    echo "[  FAILED  ] $name"
    sed 's/^/    /' "$log"
    return 1
  fi
}

# A case that runs a 32-bit program: shown and counted as skipped where none runs.
case_32bit() { # name, function...
  if [[ $TS_RUNS_32BIT == 0 ]]; then
    skipped=$((skipped + 1))
    echo "[  SKIPPED ] $1: $TS_64BIT_ONLY_NOTE"
    return 0
  fi
  case_ "$@"
}

wine_path() { winepath -w "$1" 2>/dev/null; }

# What an installation can touch: files of the prefix (not Wine's own temporary
# ones) and the machine's and the user's registry.
snapshot() { # out
  local reg=$work/reg
  mkdir -p "$reg"
  (cd "$WINEPREFIX/drive_c" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune -o \
    -path ./windows/Installer -prune -o -print | sort) >"$1"
  # The 64-bit view, which holds the 32-bit one under WOW6432Node: `wine reg`
  # itself may be the 32-bit reg.exe.
  for key in 'HKLM\Software' 'HKCU\Software' 'HKCR'; do
    rm -f "$reg/out.reg"
    wine reg export "$key" "$(wine_path "$reg/out.reg")" /reg:64 /y >/dev/null 2>&1
    # Keys and values, without Wine's own bookkeeping of its last run.
    # Windows Installer's own empty containers stay once it has run at all, and
    # so does the 32-bit list of installed programs once it has held one (on
    # Windows it is always there).
    iconv -f UTF-16LE -t UTF-8 "$reg/out.reg" 2>/dev/null | tr -d '\r' | grep -v -e '^$' -e '^#time=' |
      grep -v -i -e 'Wine\\\(Explorer\|Mac\|X11\|Temporary System Parameters\)' -e 'MuiCache' |
      grep -v -E '\\Installer(\\(Features|Products|UpgradeCodes|UserData(\\S-1-5-18(\\(Components|Products))?)?))?\]$' |
      grep -v -x -F '[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall]' >>"$1"
  done
}

msi() { # args...: msiexec's exit code
  wine msiexec "$@" /qn </dev/null >/dev/null 2>&1
}

uninstall_entries() { # the product's entries in Apps & features: "name version" per line
  for view in 64 32; do
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$view 2>/dev/null | tr -d '\r'
  done | awk '/^HKEY/ {name=""; ver=""} /DisplayName/ {name=$3} /DisplayVersion/ {ver=$3}
              name == "Virtual_TS4170" && ver != "" {print name, ver; name=""}'
}

check_archives() {
  local arch format
  for arch in x86_64 i686; do
    format=$([[ $arch == x86_64 ]] && echo pei-x86-64 || echo pei-i386)
    mkdir -p "$work/$arch"
    unzip -q -o "$dist/Virtual_TS4170-$version-$arch.zip" -d "$work/$arch" || return 1
    unzip -q -o "$dist/Virtual_TS4170-$version-$arch-debug.zip" -d "$work/$arch-debug" || return 1
    for exe in Virtual_TS4170 TS4170_Simulator; do
      local file=$work/$arch/$exe.exe sections
      x86_64-w64-mingw32-objdump -f "$file" | grep -q "file format $format" || { echo "$file is not $format"; return 1; }
      sections=$(x86_64-w64-mingw32-objdump -h "$file")
      if grep -q '\.debug_' <<<"$sections"; then echo "$file ships debug sections"; return 1; fi
      symbols=$(x86_64-w64-mingw32-nm "$file" 2>/dev/null | wc -l)
      ((symbols == 0)) || { echo "$file ships a symbol table of $symbols symbols"; return 1; }
      grep -q '\.gnu_debuglink' <<<"$sections" || { echo "$file names no debug file"; return 1; }
      [[ -s $work/$arch-debug/$exe.exe.debug ]] || { echo "no $exe.exe.debug"; return 1; }
      check_notices "$work/$arch-debug/$exe.exe.debug" "$work/$arch/THIRD-PARTY-NOTICES.txt" || return 1
      echo "show $arch/$exe.exe: $format, $(stat -c %s "$file") bytes, no debug sections, no symbols"
    done
    # The user's documents, not the developers' README.
    local document
    for document in README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt recording-format.md; do
      [[ -s $work/$arch/$document ]] || { echo "$arch: no $document"; return 1; }
    done
    [[ ! -e $work/$arch/README.md ]] || { echo "$arch ships the developers' README.md"; return 1; }
  done
  (cd "$dist" && sha256sum -c --quiet SHA256SUMS) || return 1
  # The resources as Windows reads them, through the version API.
  TS_PRODUCT_DIRS="$(wine_path "$work/x86_64");$(wine_path "$work/i686")" \
    wine "$build/tests/windows/app/product_wintest.exe" --gtest_brief=0 </dev/null
}

# Whose code an exe links, told by its symbols (the debug file keeps them), and
# the heading its notice has in the notices.
third_parties=(
  'mainCRTStartup|__mingw_|MinGW-w64 runtime'
  '__gdtoa|__pformat|Lucent Technologies'
  'pthread_create|winpthreads'
  '_ZNSt|__cxa_|GCC runtime libraries'
  '_ZN5boost|_ZNK5boost|Boost'
)
check_notices() { # debug file, notices
  local symbols entry pattern heading
  symbols=$(x86_64-w64-mingw32-nm "$1" 2>/dev/null) || return 1
  for entry in "${third_parties[@]}"; do
    pattern=${entry%|*} heading=${entry##*|}
    grep -q -E -- "$pattern" <<<"$symbols" || continue
    grep -q -F -- "$heading" "$2" || { echo "${1##*/} links $heading, which the notices do not name"; return 1; }
  done
}

check_signing() {
  local keys=$work/keys out=$work/signed pass=throwaway-$RANDOM$RANDOM
  mkdir -p "$keys" "$work/spy"
  openssl req -x509 -newkey rsa:2048 -passout "pass:$pass" -keyout "$keys/key.pem" -out "$keys/cert.pem" -days 2 \
    -subj /CN=Virtual_TS4170-test -addext extendedKeyUsage=codeSigning 2>/dev/null || return 1
  # Every command line osslsigncode gets, as ps shows it to anyone on the machine.
  printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\nexec %s "$@"\n' "$work/spy.log" "$(command -v osslsigncode)" \
    >"$work/spy/osslsigncode"
  chmod +x "$work/spy/osslsigncode"
  PATH=$work/spy:$PATH TS_DIST_DIR=$out TS_SIGN_CERT=$keys/cert.pem TS_SIGN_KEY=$keys/key.pem TS_SIGN_PASS=$pass \
    bash "$top/scripts/release.sh" >"$work/release.log" 2>&1 || { cat "$work/release.log"; return 1; }
  local signed
  signed=$(grep -c '^signed and verified:' "$work/release.log")
  [[ $signed == 6 ]] || { echo "$signed of 6 files signed"; cat "$work/release.log"; return 1; }
  if grep -F -- "$pass" "$work/spy.log"; then echo "the key's password is on a command line"; return 1; fi
  for file in "$out"/*.msi; do
    osslsigncode verify -CAfile "$keys/cert.pem" -in "$file" >/dev/null 2>&1 || { echo "$file: no good signature"; return 1; }
  done
  # Settings that cannot sign are refused before the last release is touched.
  local kept
  kept=$(ls "$out")
  if TS_DIST_DIR=$out TS_SIGN_CERT=$keys/cert.pem TS_SIGN_KEY=$keys/missing.pem bash "$top/scripts/release.sh" \
    >"$work/misconfigured.log" 2>&1; then
    echo "a key that is not there was taken"
    return 1
  fi
  [[ $(ls "$out") == "$kept" ]] || { echo "a refused signing run changed the last release: $(ls "$out")"; return 1; }
  # A timestamp asked for and not had fails the release: no signature that
  # expires with its certificate goes out unnoticed.
  rm -f "$work/spy.log"
  if PATH=$work/spy:$PATH TS_DIST_DIR=$work/stamped TS_SIGN_CERT=$keys/cert.pem TS_SIGN_KEY=$keys/key.pem \
    TS_SIGN_PASS=$pass TS_SIGN_TIMESTAMP=http://127.0.0.1:9/ bash "$top/scripts/release.sh" >"$work/stamped.log" 2>&1; then
    echo "signed without the timestamp asked for"
    return 1
  fi
  grep -q -e '-ts http://127.0.0.1:9/' "$work/spy.log" || { echo "no -ts given to osslsigncode"; cat "$work/stamped.log"; return 1; }
  # A signed file changed afterwards no longer verifies.
  cp "$out/Virtual_TS4170-$version-x86_64.msi" "$work/tampered.msi"
  printf 'X' | dd of="$work/tampered.msi" bs=1 seek=$(($(stat -c %s "$work/tampered.msi") / 2)) conv=notrunc 2>/dev/null
  if osslsigncode verify -CAfile "$keys/cert.pem" -in "$work/tampered.msi" >/dev/null 2>&1; then
    echo "a tampered MSI still verifies"
    return 1
  fi
  # Without a certificate the files carry no signature, and the step says so.
  if osslsigncode verify -in "$dist/Virtual_TS4170-$version-x86_64.msi" >/dev/null 2>&1; then
    echo "the unsigned release has a signature"
    return 1
  fi
  echo "show signed with a throwaway certificate and verified: $signed files"
}

check_damaged_refused() {
  local msi=$dist/Virtual_TS4170-$version-x86_64.msi size before after
  size=$(stat -c %s "$msi")
  head -c $((size / 2)) "$msi" >"$work/truncated.msi"
  cp "$msi" "$work/damaged.msi"
  # The container's header past its signature overwritten: where its sector
  # tables and directory are is lost.
  dd if=/dev/urandom of="$work/damaged.msi" bs=1 seek=48 count=464 conv=notrunc 2>/dev/null
  snapshot "$work/before-bad"
  for bad in truncated damaged; do
    local rc=0
    msi /i "$(wine_path "$work/$bad.msi")" || rc=$?
    if ((rc == 0)); then
      echo "msiexec took the $bad package"
      return 1
    fi
    echo "refused $bad package: msiexec exit code $rc"
  done
  snapshot "$work/after-bad"
  diff "$work/before-bad" "$work/after-bad" || { echo "a refused package left the above behind"; return 1; }
  [[ -z $(uninstall_entries) ]]
}

# The product's entry in Apps & features as a lab's inventory reads it.
entry_values() { # name: its value in the product's entry, for each entry
  for view in 64 32; do
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$view 2>/dev/null | tr -d '\r'
  done | awk -v want="$1" '/^HKEY/ {product=0} /DisplayName/ && $3 == "Virtual_TS4170" {product=1}
              product && $1 == want {sub(/^ *[^ ]+ +REG_[A-Z_]+ +/, ""); print}'
}

build_package() { # arch, version, out: the package as the release builds it, from the archive's files
  local arch=$1 msiarch
  msiarch=$([[ $arch == x86_64 ]] && echo x64 || echo x86)
  cp "$top/packaging/Virtual_TS4170.wxs" "$work/$arch.wxs"
  cp "$build/res/Virtual_TS4170.ico" "$work/$arch-Virtual_TS4170.ico"
  wixl -a "$msiarch" -D Version="$2" -D Publisher="$publisher" -D Arch="$msiarch" -D SourceDir="$arch" -o "$3" "$work/$arch.wxs"
}

check_install_upgrade_uninstall() { # arch
  local arch=$1 old new rebuilt
  # An older package of the same product: the version is all that differs.
  old=$work/old-$arch.msi
  new=$dist/Virtual_TS4170-$version-$arch.msi
  # A rebuild that kept the version: it too replaces what is there.
  rebuilt=$work/rebuilt-$arch.msi
  build_package "$arch" 1.0.0 "$old" || return 1
  build_package "$arch" "$version" "$rebuilt" || return 1
  snapshot "$work/before-$arch"
  msi /i "$(wine_path "$old")" || { echo "installing the older package failed: $?"; return 1; }
  [[ $(uninstall_entries) == "Virtual_TS4170 1.0.0" ]] || { echo "after the older install: $(uninstall_entries)"; return 1; }
  msi /i "$(wine_path "$new")" || { echo "installing the newer package failed: $?"; return 1; }
  [[ $(uninstall_entries) == "Virtual_TS4170 $version" ]] || { echo "after the upgrade: $(uninstall_entries)"; return 1; }
  msi /i "$(wine_path "$rebuilt")" || { echo "installing the rebuilt package failed: $?"; return 1; }
  [[ $(uninstall_entries) == "Virtual_TS4170 $version" ]] || { echo "after the rebuild: $(uninstall_entries)"; return 1; }
  echo "upgraded $arch: one installation, $(uninstall_entries), a rebuild of the same version replacing it"
  local field folder
  folder=$([[ $arch == x86_64 ]] && echo 'Program Files' || echo 'Program Files (x86)')
  for field in Publisher InstallLocation HelpLink URLInfoAbout; do
    [[ -n $(entry_values $field) ]] || { echo "the entry has no $field"; return 1; }
    echo "installed entry $field: $(entry_values $field)"
  done
  [[ $(entry_values Publisher) == "$publisher" ]] || { echo "the publisher is not \"$publisher\""; return 1; }
  [[ $(entry_values InstallLocation) == "C:\\$folder\\Virtual_TS4170\\" ]] || { echo "InstallLocation is not the folder"; return 1; }
  snapshot "$work/installed-$arch"
  diff "$work/before-$arch" "$work/installed-$arch" | grep '^>' | sed 's/^> /installed: /'
  # Nothing in the user's profile: no file under users\, no key under HKCU. The
  # package is per machine (ALLUSERS 1), which on Windows puts its shortcuts in
  # all users' Start menu; Wine's msiexec puts them in the installing user's.
  msiinfo export "$new" Property | tr -d '\r' | grep -qx $'ALLUSERS\t1' || { echo "not a per-machine package"; return 1; }
  if diff "$work/before-$arch" "$work/installed-$arch" | grep '^>' | grep -v '/Start Menu/Programs/Virtual_TS4170' |
    grep -E '^> (\./users/|\[HKEY_CURRENT_USER)'; then
    echo "the install wrote to the user's profile"
    return 1
  fi
  wine "$build/tests/e2e/package/package_installed_e2etest.exe" --gtest_brief=0 </dev/null || return 1
  msi /x "$(wine_path "$rebuilt")" || { echo "uninstall failed: $?"; return 1; }
  snapshot "$work/removed-$arch"
  diff "$work/before-$arch" "$work/removed-$arch" || { echo "uninstall left the above behind"; return 1; }
  echo "removed $arch: files, shortcuts and keys as before the install"
}

# The 32-bit package over the 64-bit one (msiexec alone: no 32-bit program runs),
# and both removed: nothing of either left.
check_both_architectures() {
  snapshot "$work/before-both"
  msi /i "$(wine_path "$dist/Virtual_TS4170-$version-x86_64.msi")" || { echo "installing x86_64 failed: $?"; return 1; }
  msi /i "$(wine_path "$dist/Virtual_TS4170-$version-i686.msi")" || { echo "installing i686 over it failed: $?"; return 1; }
  echo "installed x86_64, then i686: $(uninstall_entries | paste -s -d ';')"
  [[ $(uninstall_entries) == "Virtual_TS4170 $version" ]] || { echo "not one installation"; return 1; }
  [[ ! -e "$WINEPREFIX/drive_c/Program Files/Virtual_TS4170" ]] || { echo "the x86_64 installation is still there"; return 1; }
  for package in i686 x86_64; do msi /x "$(wine_path "$dist/Virtual_TS4170-$version-$package.msi")"; done
  snapshot "$work/removed-both"
  diff "$work/before-both" "$work/removed-both" || { echo "removing both left the above behind"; return 1; }
  [[ -z $(uninstall_entries) ]] || { echo "entries left: $(uninstall_entries)"; return 1; }
  echo "removed x86_64 and i686: files, shortcuts and keys as before"
}

case_ archives check_archives
case_ signing check_signing
case_ damaged_msi_refused check_damaged_refused
# What a failed case left installed goes, so the next starts clean.
remove_leftovers() {
  for package in "$work"/old-*.msi "$work"/rebuilt-*.msi "$dist"/*.msi; do msi /x "$(wine_path "$package")"; done
}

case_ msi_x86_64 check_install_upgrade_uninstall x86_64 || remove_leftovers
case_ msi_x86_64_and_i686 check_both_architectures || remove_leftovers
case_32bit msi_i686 check_install_upgrade_uninstall i686
echo "package: $passed passed, $failed failed, $skipped skipped"
# The test command's totals count these cases.
[[ -n ${TS_CASE_COUNTS:-} && -n ${TS_CASE_NAME:-} ]] &&
  echo "$passed passed, $failed failed, $skipped skipped" >"$TS_CASE_COUNTS/$TS_CASE_NAME.counts"
((failed == 0))
