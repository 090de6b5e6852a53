#!/usr/bin/env bash
# Builds Tarnwick and runs every test: unit and system tests under Wine and Xvfb, the checks of the
# stand-in package, and the static checks of the shipped 32-bit Tarnwick.exe. Installs what it needs.
set -euo pipefail
source "$(dirname "$0")/build-lib.sh"
"$root/scripts/install-deps.sh"

build_product
arch=$(run_arch)
echo "Tests run the $arch build under $(wine_loader "$arch")"
configure_and_build "$arch" "$build/test-$arch" -DTARNWICK_PRODUCT_EXE="$build/i686/Tarnwick.exe"

# One X display for every window of the run; tests run one at a time (a reboot request ends every
# windowed process of the Wine session).
cd "$build/test-$arch"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure "$@"
