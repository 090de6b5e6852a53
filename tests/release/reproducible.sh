#!/usr/bin/env bash
# A second build of the same sources, from a copy in another folder and at another time, gives the
# same bytes: Tarnwick.exe, its debug file and the package it carries.
# Usage: reproducible.sh SOURCE-ROOT PRODUCT-BUILD-DIR WORK-DIR
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 SOURCE-ROOT PRODUCT-BUILD-DIR WORK-DIR" >&2; exit 2; }
root=$1 first=$2 work=$3
rm -rf "$work"
mkdir -p "$work/sources"

# The sources as they stand (the build folders left out), in a folder of another name and depth.
tar -C "$root" --exclude=./build --exclude=./demo-output --exclude=./.git -cf - . | tar -C "$work/sources" -xf -
package_dir=$(sed -n 's/^TARNWICK_PACKAGE_DIR:PATH=//p' "$first/CMakeCache.txt")
second=$work/second/build-elsewhere
cmake -S "$work/sources" -B "$second" -DCMAKE_TOOLCHAIN_FILE="$work/sources/cmake/toolchain-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTARNWICK_TESTS=OFF -DTARNWICK_THREAD_MODEL=win32 \
  -DTARNWICK_PACKAGE_DIR="$package_dir" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$second" -j2 --target Tarnwick >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }

failed=0
compare() { # RELATIVE-PATH
  if cmp -s "$first/$1" "$second/$1"; then
    echo "  same  $1  $(sha256sum <"$first/$1" | cut -c1-64)"
  else
    echo "  DIFF  $1: $(cmp "$first/$1" "$second/$1" 2>&1 | head -n 1)"
    echo "        first  $(sha256sum <"$first/$1" | cut -c1-64)"
    echo "        second $(sha256sum <"$second/$1" 2>/dev/null | cut -c1-64)"
    failed=1
  fi
}
echo "first build:  $first"
echo "second build: $second (sources copied to $work/sources)"
compare Tarnwick.exe
compare Tarnwick.exe.debug
for file in "$first"/standin/package/*; do
  compare "standin/package/$(basename "$file")"
done

# What ships carries no debug sections, no link time stamp and no build folder.
sections=$(i686-w64-mingw32-objdump -h "$first/Tarnwick.exe" | awk '$2 ~ /^\./ {print $2}' | tr '\n' ' ')
echo "sections of Tarnwick.exe: $sections"
case " $sections" in *" .debug_"*) echo "  FAIL  Tarnwick.exe still carries debug sections"; failed=1 ;; esac
case " $sections" in *" .gnu_debuglink "*) ;; *) echo "  FAIL  Tarnwick.exe does not name its debug file"; failed=1 ;; esac
stamp=$(i686-w64-mingw32-objdump -p "$first/Tarnwick.exe" | sed -n 's/^Time\/Date[[:space:]]*//p')
echo "PE time stamp: $stamp"
case $stamp in *1970*) ;; *) echo "  FAIL  Tarnwick.exe carries a link time stamp"; failed=1 ;; esac
for file in Tarnwick.exe Tarnwick.exe.debug; do
  if grep -a -q -F "$first" "$first/$file" || grep -a -q -F "$root" "$first/$file"; then
    echo "  FAIL  $file names the build or source folder"
    failed=1
  fi
done
if [ $failed -eq 0 ]; then
  echo "the two builds are byte for byte the same"
  rm -rf "$work/sources" "$work/second" # kept only to look into a difference
fi
exit $failed
