# Configures and builds a tree named in CMakePresets.json: build/PRESET, the
# targets given or all, at the niceness BUILD_NICE; its log is build/PRESET.build.log.
# A tree another generator made is made anew. Sourced.
ts_tree() { # preset [target...]
  local preset=$1 dir=build/$1
  shift
  if [[ -f $dir/CMakeCache.txt ]] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
  mkdir -p build
  local targets=()
  (($#)) && targets=(--target "$@")
  if ! { cmake --preset "$preset" && nice -n "${BUILD_NICE:-0}" cmake --build "$dir" "${targets[@]}"; } \
    >"$dir.build.log" 2>&1; then
    tail -n 60 "$dir.build.log"
    echo "Building $dir failed: its log is $dir.build.log" >&2
    return 1
  fi
}
