#!/usr/bin/env bash
# Builds the native fuzz targets of the text functions (clang, libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS (default 30) from its seed corpus in
# fuzz/corpus/. A crash, a sanitizer report or a broken property fails the run; the input that did
# it is kept in build/fuzz/findings/. Prints the executions per target.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-30}"

cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build.configure.log" 2>&1 ||
  { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j2 >"$build.build.log" 2>&1 || { cat "$build.build.log"; exit 1; }

mkdir -p "$build/findings"
failed=0
summary=()
for seeds in "$root"/fuzz/corpus/*/; do
  target="$(basename "$seeds")"
  # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
  work="$build/corpus/$target"
  rm -rf "$work" && mkdir -p "$work"
  log="$build/$target.log"
  if "$build/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
    "$work" "$seeds" >"$log" 2>&1; then
    result=passed
  else
    result=FAILED
    failed=1
    tail -n 30 "$log"
  fi
  runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')"
  summary+=("fuzz $target: $result, $runs executions in ${seconds} s")
done
printf '%s\n' "${summary[@]}"
exit $failed
