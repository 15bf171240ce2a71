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

# The build targets of the tests that CTest chooses with the arguments given in
# the configured tree DIR: each test's program (a test NAME_long runs NAME).
ts_test_targets() { # dir, ctest args...
  local dir=$1
  shift
  ctest --test-dir "$dir" -N "$@" | sed -n 's/^ *Test *#[0-9]*: \(.*\)$/\1/p' | sed 's/_long$//' | sort -u |
    grep -Fx -f <(ninja -C "$dir" -t targets all | sed -n 's/^\([A-Za-z0-9_]*\): phony$/\1/p')
}
