#!/usr/bin/env bash
# Installs the Debian packages that building and testing Tarnwick need. Idempotent; needs root.
set -euo pipefail

packages=(
  cmake make python3
  g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 wine32:i386
  xvfb xauth x11-utils imagemagick
  googletest
  dosfstools mtools fdisk
  osslsigncode openssl
  clang libclang-rt-14-dev
)

install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  [ -n "${updated:-}" ] || { apt-get update -qq; updated=1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install "${packages[@]}"
# Where the kernel refuses 32-bit programs, the shipped 32-bit exe runs through user-mode emulation.
/usr/lib/wine/wine --version >/dev/null 2>&1 || install qemu-user-static
