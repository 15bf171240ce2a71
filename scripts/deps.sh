# Installs what building, running and testing need on Debian 12, once. Sourced.
ts_deps() {
  local need=()
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
  command -v wine >/dev/null || need+=(wine wine64)
  command -v Xvfb >/dev/null || need+=(xvfb)
  command -v xdpyinfo >/dev/null || need+=(x11-utils)
  command -v cmake >/dev/null || need+=(cmake)
  command -v clang-format >/dev/null || need+=(clang-format)
  command -v g++ >/dev/null || need+=(g++)
  [[ -d /usr/src/googletest ]] || need+=(googletest)
  [[ -f /usr/include/benchmark/benchmark.h ]] || need+=(libbenchmark-dev)
  [[ -x /usr/bin/convert ]] || need+=(imagemagick)
  command -v xwd >/dev/null || need+=(x11-apps)
  if ((${#need[@]})); then
    echo "Installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${need[@]}" >/dev/null
  fi
}
