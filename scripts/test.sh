#!/usr/bin/env bash
# Builds Tarnwick and runs every test: unit and system tests under Wine and Xvfb, the checks of the
# stand-in package, the static checks of the shipped 32-bit Tarnwick.exe, its reproducibility and
# its signing; the include structure of the layers; and fuzzing of the text functions. Installs what
# it needs.
#
# Both test trees (i686, the shipped code model, and x86_64) are built on every machine, so that a
# compile error in either stops the run. Each tree then runs what this machine can run: the x86_64
# tree everything; the i686 tree everything where 32-bit code runs natively; elsewhere its host-side tests (static
# checks, reproducibility, signing) and one run of the shipped exe through user-mode emulation,
# where that can be set up (docs/32-bit-emulation.md). Extra arguments go to every ctest run.
set -euo pipefail
source "$(dirname "$0")/build-lib.sh"
"$root/scripts/install-deps.sh"

# The structure first: no include cycle, and no include from a layer to one above it.
layers=$(sed -n 's/^set(TARNWICK_LAYERS \(.*\))$/\1/p' "$root/CMakeLists.txt" | tr ' ' ',')
checker="$root/../shared/tools/include-cycles.py"
[ -f "$checker" ] || checker="$root/scripts/include-cycles.py" # a copy, for clones without the workplace's tools
echo "== include structure, layers $layers"
python3 "$checker" "$root" --exclude standin bench fuzz --layers "$layers"

build_product
for arch in i686 x86_64; do
  configure_and_build "$arch" "$build/test-$arch" -DTARNWICK_PRODUCT_EXE="$build/i686/Tarnwick.exe"
done

# One X display for every window of a tree; tests run one at a time (a reboot request ends every
# windowed process of the Wine session).
run_tree() { # ARCH [ctest options...]
  local arch=$1
  shift
  (cd "$build/test-$arch" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure "$@")
}

status=0 summary=()
if [ "${TARNWICK_EMULATE_I386:-0}" != 1 ] && i686_runs; then
  echo "== i686 tree: every test, under $(i686_how)"
  run_tree i686 "$@" || status=1
  summary+=("i686 tree: every test ran ($(i686_how))")
else
  # Where the kernel refuses 32-bit code (or TARNWICK_EMULATE_I386=1 asks for it), the whole tree
  # would take far longer than a test run may (docs/32-bit-emulation.md): its host-side tests run,
  # and the shipped exe once, through user-mode emulation where that can be set up.
  why=$( [ "${TARNWICK_EMULATE_I386:-0}" = 1 ] && echo "TARNWICK_EMULATE_I386=1" || i686_refusal)
  if enable_i386_emulation && i686_runs; then
    trap disable_i386_emulation EXIT
    echo "== i686 tree: host-side tests and the shipped exe once, under $(i686_how) ($why)"
    run_tree i686 -L 'host|smoke' "$@" || status=1
    disable_i386_emulation
    summary+=("i686 tree: host-side tests and one run of the shipped exe under emulation; its other Wine tests did not run ($why; too slow emulated, see docs/32-bit-emulation.md)")
  else
    disable_i386_emulation
    echo "== i686 tree: host-side tests only; its Wine tests cannot run here: $why"
    run_tree i686 -L host "$@" || status=1
    summary+=("i686 tree: host-side tests only (Wine tests not run: $why; no emulation either)")
  fi
fi
echo "== x86_64 tree: every test, under /usr/lib/wine/wine64"
run_tree x86_64 "$@" || status=1
summary+=("x86_64 tree: every test ran (wine64)")

echo "== fuzzing the text functions natively, ${FUZZ_SECONDS:-30} s each"
fuzzed=$("$root/scripts/fuzz.sh") || status=1
echo "$fuzzed"
summary+=("$fuzzed")

echo
printf '%s\n' "${summary[@]}"
exit $status
