# Installs what building, running and testing need on Debian 12, once. Sourced.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# When a mirror's i386 security index lags its amd64 one, the 64-bit libraries
# apt picks are newer than their only 32-bit twins, and one install of everything
# finds no solution. Taking every version from the release itself, a package at a
# time and wine32's media libraries first, does.
ts_deps_stepwise() {
  local p
  echo "One install of everything found no solution: installing one at a time."
  for p in "$@"; do
    if [[ $p == wine32:i386 ]]; then
      apt-get install -y -qq -o APT::Default-Release=bookworm libgstreamer-plugins-base1.0-0:i386 >/dev/null || return 1
    fi
    apt-get install -y -qq -o APT::Default-Release=bookworm "$p" >/dev/null || return 1
  done
}

ts_deps() {
  local need=()
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
  command -v wine >/dev/null || need+=(wine wine64)
  command -v Xvfb >/dev/null || need+=(xvfb)
  command -v xdpyinfo >/dev/null || need+=(x11-utils)
  command -v cmake >/dev/null || need+=(cmake)
  command -v ninja >/dev/null || need+=(ninja-build)
  command -v clang-format >/dev/null || need+=(clang-format)
  command -v g++ >/dev/null || need+=(g++)
  [[ -d /usr/src/googletest ]] || need+=(googletest)
  [[ -f /usr/lib/x86_64-linux-gnu/libgtest.a ]] || need+=(libgtest-dev)
  [[ -f /usr/include/benchmark/benchmark.h ]] || need+=(libbenchmark-dev)
  [[ -x /usr/bin/convert ]] || need+=(imagemagick)
  command -v xwd >/dev/null || need+=(x11-apps)
  # The 32-bit build and Wine's 32-bit side to run it; the icon tool's deflate.
  command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
  [[ -f /usr/include/zlib.h ]] || need+=(zlib1g-dev)
  # Packages: MSIs, zips, signatures.
  command -v wixl >/dev/null || need+=(wixl)
  command -v msiinfo >/dev/null || need+=(msitools)
  command -v osslsigncode >/dev/null || need+=(osslsigncode)
  command -v zip >/dev/null || need+=(zip)
  command -v unzip >/dev/null || need+=(unzip)
  command -v openssl >/dev/null || need+=(openssl)
  # Wine's 32-bit side only where the kernel runs 32-bit code: elsewhere it
  # would break Wine as a whole.
  if ! ts_runs_32bit; then
    echo "$TS_64BIT_ONLY_NOTE"
  elif ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    need+=(wine32:i386)
  fi
  # Sharing the screen with browsers: Boost.Beast/Asio (headers only), and the
  # browser tests' chromium and Node.
  [[ -f /usr/include/boost/beast.hpp ]] || need+=(libboost-dev)
  command -v chromium >/dev/null || need+=(chromium)
  command -v node >/dev/null || need+=(nodejs)
  command -v npm >/dev/null || need+=(npm)
  if ((${#need[@]})); then
    echo "Installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${need[@]}" >/dev/null || ts_deps_stepwise "${need[@]}"
  fi
}

# The browser tests' Node packages, in the tree, at the versions the lock file names.
ts_node_deps() {
  local dir=tests/e2e/share/browser
  [[ -f $dir/node_modules/.package-lock.json && $dir/node_modules/.package-lock.json -nt $dir/package-lock.json ]] ||
    (cd "$dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
}
