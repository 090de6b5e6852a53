#!/usr/bin/env bash
# Builds Tarnwick and runs every test: unit and system tests under Wine and Xvfb, the checks of the
# stand-in package, the static checks of the shipped 32-bit Tarnwick.exe, its reproducibility and
# its signing. Installs what it needs.
#
# Both test trees (i686, the shipped code model, and x86_64) are built on every machine, so that a
# compile error in either stops the run. Each tree then runs what this machine can run: the x86_64
# tree everything; the i686 tree everything where 32-bit code runs (natively, or through user-mode
# emulation with TARNWICK_EMULATE_I386=1, see docs/32-bit-emulation.md), else its host-side tests
# only (static checks, reproducibility, signing). Extra arguments go to every ctest run.
set -euo pipefail
source "$(dirname "$0")/build-lib.sh"
"$root/scripts/install-deps.sh"

build_product
for arch in i686 x86_64; do
  configure_and_build "$arch" "$build/test-$arch" -DTARNWICK_PRODUCT_EXE="$build/i686/Tarnwick.exe"
done

if [ "${TARNWICK_EMULATE_I386:-0}" = 1 ]; then
  enable_i386_emulation
  trap disable_i386_emulation EXIT
fi

# One X display for every window of a tree; tests run one at a time (a reboot request ends every
# windowed process of the Wine session).
run_tree() { # ARCH [ctest options...]
  local arch=$1
  shift
  (cd "$build/test-$arch" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure "$@")
}

status=0 summary=()
if i686_runs; then
  echo "== i686 tree: every test, under $(i686_how)"
  run_tree i686 "$@" || status=1
  summary+=("i686 tree: every test ran ($(i686_how))")
else
  why=$(i686_refusal)
  echo "== i686 tree: host-side tests only; its Wine tests cannot run here: $why"
  run_tree i686 -L host "$@" || status=1
  summary+=("i686 tree: host-side tests only (Wine tests not run: $why)")
fi
echo "== x86_64 tree: every test, under /usr/lib/wine/wine64"
run_tree x86_64 "$@" || status=1
summary+=("x86_64 tree: every test ran (wine64)")

echo
printf '%s\n' "${summary[@]}"
exit $status
