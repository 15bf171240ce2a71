#!/usr/bin/env bash
# Makes dist/: for x86-64 and i686 an MSI and a portable zip of the program and
# the simulator (optimised, static, stripped of debug information and symbols;
# those in a -debug.zip beside, each exe naming its file by a debug link) with
# the user's guide, the licence and the third-party notices, and SHA256SUMS.
#
# Signing: given TS_SIGN_CERT and TS_SIGN_KEY (PEM files; TS_SIGN_PASS if the key
# has a password, handed to osslsigncode on its standard input, never on a
# command line; TS_SIGN_CA, the CA to verify against, defaults to the
# certificate), the exes and the MSIs are signed and every signature verified.
# TS_SIGN_TIMESTAMP, the URL of an RFC 3161 time-stamp authority, has each
# signature timestamped there, so it stays valid after the certificate expires.
# Without a certificate and key the step says that it skipped. Settings that
# cannot sign stop the release before it touches the last one.
#
# TS_RELEASE_TREES="x86_64=DIR i686=DIR" takes the programs from those MinGW
# trees (the test command's) instead of building release trees with debug
# information.
#
# TS_DIST_DIR puts the packages elsewhere.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
source scripts/deps.sh
source scripts/tree.sh
ts_deps
version=$(sed -n 's/^project(Virtual_TS4170 VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "No version in CMakeLists.txt" >&2; exit 1; }
publisher=$(sed -n 's/^set(TS_PUBLISHER "\(.*\)")$/\1/p' CMakeLists.txt)
[[ -n $publisher ]] || { echo "No TS_PUBLISHER in CMakeLists.txt" >&2; exit 1; }

signing=
if [[ -n ${TS_SIGN_CERT:-} || -n ${TS_SIGN_KEY:-} ]]; then
  [[ -f ${TS_SIGN_CERT:-} && -f ${TS_SIGN_KEY:-} ]] || { echo "TS_SIGN_CERT and TS_SIGN_KEY must both name files" >&2; exit 1; }
  signing=1
elif [[ -n ${TS_SIGN_TIMESTAMP:-} ]]; then
  echo "TS_SIGN_TIMESTAMP without TS_SIGN_CERT and TS_SIGN_KEY: nothing to timestamp" >&2
  exit 1
else
  echo "signing: skipped (no TS_SIGN_CERT and TS_SIGN_KEY)"
fi

dist=${TS_DIST_DIR:-$top/dist}
stage=$top/build/release-stage
[[ -n ${TS_DIST_DIR:-} ]] && stage=$dist-stage
rm -rf "$dist" "$stage"
mkdir -p "$dist" "$stage"
programs=(Virtual_TS4170 TS4170_Simulator)
# What goes beside the programs. The user's texts as Windows' Notepad reads
# them everywhere: UTF-8 with its byte-order mark, CRLF lines.
texts=(docs/user/README.txt LICENSE.txt packaging/THIRD-PARTY-NOTICES.txt)
documents=("${texts[@]##*/}" recording-format.md)

declare -A trees=()
for entry in ${TS_RELEASE_TREES:-}; do trees[${entry%%=*}]=${entry#*=}; done

sign() { # file: signs it in place and verifies the signature
  [[ -n $signing ]] || return 0
  local file=$1 args=(-certs "$TS_SIGN_CERT" -key "$TS_SIGN_KEY" -h sha256 -n Virtual_TS4170)
  [[ -n ${TS_SIGN_TIMESTAMP:-} ]] && args+=(-ts "$TS_SIGN_TIMESTAMP")
  # The password on standard input: printf is the shell's own, so it is in no
  # process's arguments.
  [[ -n ${TS_SIGN_PASS:-} ]] && args+=(-readpass -)
  printf '%s' "${TS_SIGN_PASS:-}" | osslsigncode sign "${args[@]}" -in "$file" -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
  osslsigncode verify -CAfile "${TS_SIGN_CA:-$TS_SIGN_CERT}" -in "$file" >"$file.verify" 2>&1 ||
    { cat "$file.verify" >&2; echo "signature of $file does not verify" >&2; exit 1; }
  rm -f "$file.verify"
  echo "signed and verified: ${file#"$top"/}"
}

for arch in x86_64 i686; do
  tree=${trees[$arch]:-}
  if [[ -z $tree ]]; then
    # With the debug information that goes to the -debug.zip.
    tree=build/release-$arch
    ts_tree release-$arch "${programs[@]}" || exit 1
  else
    cmake --build "$tree" --target "${programs[@]}" >"$tree.release.log" 2>&1 ||
      { tail -n 40 "$tree.release.log"; echo "Building the programs in $tree failed" >&2; exit 1; }
  fi
  files=$stage/$arch
  symbols=$stage/$arch-debug
  mkdir -p "$files" "$symbols"
  for program in "${programs[@]}"; do
    exe=$(find "$tree" -name "$program.exe" -not -path '*/CMakeFiles/*' | head -n 1)
    cp "$exe" "$files/"
    before=$(stat -c %s "$files/$program.exe")
    # The link names the file by its base name: beside the exe is where a
    # debugger looks.
    (cd "$files" && "$arch-w64-mingw32-objcopy" --only-keep-debug "$program.exe" "$symbols/$program.exe.debug" &&
      "$arch-w64-mingw32-objcopy" --strip-all --add-gnu-debuglink="$symbols/$program.exe.debug" "$program.exe")
    echo "$arch $program.exe: $before bytes, stripped $(stat -c %s "$files/$program.exe")"
    sign "$files/$program.exe"
  done
  for text in "${texts[@]}"; do
    { printf '\xef\xbb\xbf'; sed 's/$/\r/' "$text"; } >"$files/${text##*/}"
  done
  cp docs/recording-format.md "$files/"
  # The icon of the product's entry in Apps & features.
  cp "$tree/res/Virtual_TS4170.ico" "$stage/$arch-Virtual_TS4170.ico"
  name=Virtual_TS4170-$version-$arch
  msiarch=$([[ $arch == x86_64 ]] && echo x64 || echo x86)
  # wixl finds the files relative to the definition's folder.
  cp packaging/Virtual_TS4170.wxs "$stage/$arch.wxs"
  wixl -a "$msiarch" -D Version="$version" -D Publisher="$publisher" -D Arch="$msiarch" -D SourceDir="$arch" \
    -o "$dist/$name.msi" "$stage/$arch.wxs"
  sign "$dist/$name.msi"
  (cd "$files" && zip -q -X "$dist/$name.zip" "${programs[@]/%/.exe}" "${documents[@]}")
  (cd "$symbols" && zip -q -X "$dist/$name-debug.zip" ./*.debug)
done
(cd "$dist" && sha256sum -- * >SHA256SUMS)
ls -l "$dist"
cat "$dist/SHA256SUMS"
