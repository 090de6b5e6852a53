# Shared by the demo and the test script: where to build, and for which Windows.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARNWICK_BUILD_DIR:-$root/build}
jobs=${TARNWICK_JOBS:-2}

# The shipped program is 32-bit. It runs under the 32-bit Wine loader where this machine can
# execute 32-bit code; elsewhere the tests and the demo fall back to a 64-bit build of the same
# sources under wine64.
i686_runs() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# How 32-bit code runs here: natively, or through user-mode emulation.
i686_how() {
  if [ -n "${tarnwick_binfmt:-}" ]; then echo "32-bit Wine through qemu-i386 user-mode emulation"
  else echo "32-bit Wine (/usr/lib/wine/wine)"; fi
}

# Why the 32-bit Wine loader does not start, in the system's own words.
i686_refusal() {
  local message
  message=$(/usr/lib/wine/wine --version 2>&1 | head -n 1) || true
  echo "/usr/lib/wine/wine --version: ${message:-no output}"
}

run_arch() {
  if i686_runs; then echo i686; else echo x86_64; fi
}

wine_loader() {
  if [ "$1" = i686 ]; then echo /usr/lib/wine/wine; else echo /usr/lib/wine/wine64; fi
}

# User-mode emulation of 32-bit x86 for this run only: a binfmt_misc entry of our own that hands
# every i386 ELF program to qemu-i386-static (see docs/32-bit-emulation.md). Needs root.
tarnwick_binfmt=
enable_i386_emulation() {
  local qemu=/usr/bin/qemu-i386-static misc=/proc/sys/fs/binfmt_misc
  [ -x "$qemu" ] || { echo "i386 emulation: $qemu is missing (Debian package qemu-user-static)" >&2; return 1; }
  if [ ! -e "$misc/register" ]; then
    mount binfmt_misc -t binfmt_misc "$misc" 2>/dev/null ||
      { echo "i386 emulation: cannot mount binfmt_misc at $misc" >&2; return 1; }
  fi
  [ ! -e "$misc/tarnwick-i386" ] || echo -1 >"$misc/tarnwick-i386"
  printf '%s' ':tarnwick-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
    2>/dev/null >"$misc/register" || { echo "i386 emulation: cannot register with binfmt_misc" >&2; return 1; }
  tarnwick_binfmt=$misc/tarnwick-i386
  # Without a reserved address space Wine cannot map its shared user data (c0000018).
  export QEMU_RESERVED_VA=0xf7000000
  echo "i386 emulation: i386 programs run through $qemu for this run"
}

disable_i386_emulation() {
  if [ -n "$tarnwick_binfmt" ] && [ -e "$tarnwick_binfmt" ]; then
    echo -1 >"$tarnwick_binfmt"
    echo "i386 emulation: registration removed"
  fi
  tarnwick_binfmt=
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
