#!/usr/bin/env bash
# Builds the benchmarks (x86_64, run under wine64 in a prefix of their own) and runs them:
#  1. extraction of the package with the program's ExtractResourceFile against plain copies;
#  2. the wall time of a successful silent run of Tarnwick.exe (supported drive from the fake WMI
#     provider) against the 5 s pause the program prescribes after its installer.
# Usage: bench/run.sh [BUILD-DIR]    (default /tmp/tarnwick-bench64; configured if new)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-/tmp/tarnwick-bench64}
# Tarnwick.exe creates its (hidden) dialog even in a silent run: Wine needs an X display.
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a "$0" "$build"

wine=/usr/lib/wine/wine64
prefix=$build/bench/wineprefix
rounds=5 runs=3 pause=5
winpath() { printf 'Z:%s' "${1//\//\\}"; }
wrun() { "$src/cmake/wine-run.sh" "$wine" "$prefix" "$@"; }

[ -f "$build/CMakeCache.txt" ] ||
  cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-x86_64.cmake" >/dev/null
cmake --build "$build" -j2 --target bench_extraction bench_run_timer Tarnwick FakeWmi >/dev/null
"$src/cmake/make-prefix.sh" "$wine" "$prefix" >/dev/null

work=$(mktemp -d)
locator='HKLM\Software\Classes\CLSID\{4590F811-1D3A-11D0-891F-00AA004B2E24}\InprocServer32'
original=$(wrun reg query "$locator" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
cleanup() {
  [ -z "$original" ] || wrun reg add "$locator" /ve /d "$original" /f >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

echo
wrun "$build/bench/bench_extraction.exe" "$rounds" "$(winpath "$work")\\extraction"

# The fake WMI provider in place of Wine's locator, with one supported drive on an MBR disk.
wrun reg add "$locator" /ve /d "$(winpath "$build/tests/fakewmi/FakeWmi.dll")" /f >/dev/null 2>&1
cat >"$work/scenario.txt" <<'SCENARIO'
drive 0 model="ATA VLM3064 50B3D160" firmware="V3D1" pnp="IDE\D"
partition type="Installable File System"
SCENARIO

package=(Setup.exe Setup.ini Unins.exe LoadVF.bin VirtFlpy.bin VelomarHDv.ima)
results=()
for run in $(seq "$runs"); do
  dir=$work/run$run
  mkdir "$dir"
  line=$(cd "$dir" && TARNWICK_FAKE_WMI=$(winpath "$work/scenario.txt") \
    wrun "$build/bench/bench_run_timer.exe" "$(winpath "$build/Tarnwick.exe")" /s | tr -d '\r')
  read -r _ code _ seconds <<<"$line"
  # Only a run that really succeeded counts: exit code 3010, the installer's success logged and no
  # failure, no package file left.
  log=$(iconv -f UTF-16 -t UTF-8 "$dir/VelomarHDDInstallerLog.txt" 2>/dev/null | tr -d '\r' || true)
  left=$(cd "$dir" && ls "${package[@]}" 2>/dev/null || true)
  if [ "$code" != 3010 ] || ! grep -qx "Update executed successfully." <<<"$log" ||
    grep -q "^Exception: " <<<"$log" || [ -n "$left" ]; then
    echo "silent run $run did not succeed: exit ${code:-none}, files left: ${left:-none}; log ends:" >&2
    tail -5 <<<"$log" >&2
    exit 1
  fi
  results+=("$seconds")
done

echo
echo "Silent run (Tarnwick.exe /s, supported drive): $runs runs against the ${pause} s installer pause"
printf '  %-8s %-6s %10s %14s\n' run exit "wall/${pause} s" "overhead (s)"
for i in "${!results[@]}"; do
  awk -v n=$((i + 1)) -v t="${results[$i]}" -v p="$pause" \
    'BEGIN { printf "  %-8s %-6s %10.2f %14.2f\n", n, 3010, t / p, t - p }'
done
printf '%s\n' "${results[@]}" | sort -n | awk -v p="$pause" '{ t[NR] = $1 }
  END { m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
        printf "  %-15s %10.2f %14.2f\n", "median", m / p, m - p }'
