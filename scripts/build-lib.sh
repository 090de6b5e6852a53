# Shared by the demo and the test script: where to build, and for which Windows.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
jobs=${TARNWICK_JOBS:-2}

# The shipped program is 32-bit. Programs run under the 32-bit Wine loader where this machine can
# execute 32-bit code; elsewhere a 64-bit build of the same sources runs under wine64.
run_arch() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
}

wine_loader() {
  if [ "$1" = i686 ]; then echo /usr/lib/wine/wine; else echo /usr/lib/wine/wine64; fi
}

# configure_and_build ARCH DIR [cmake options...] -- [targets...]
configure_and_build() {
  local arch=$1 dir=$2
  shift 2
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  targets=("$@")
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release "${options[@]}" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
  if [ ${#targets[@]} -gt 0 ]; then
    cmake --build "$dir" -j"$jobs" --target "${targets[@]}"
  else
    cmake --build "$dir" -j"$jobs"
  fi
}

# The product, always 32-bit.
build_product() {
  mkdir -p "$build"
  configure_and_build i686 "$build/i686" -DTARNWICK_TESTS=OFF -DTARNWICK_THREAD_MODEL=win32 "$@"
}
