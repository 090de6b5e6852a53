#!/usr/bin/env bash
# Creates a fresh Wine prefix for one test run.
# Usage: make-prefix.sh WINE-LOADER PREFIX
set -eu
wine=$1 prefix=$2
server=$(dirname "$wine")/wineserver
[ -x "$server" ] || server=wineserver
WINEPREFIX=$prefix "$server" -k 2>/dev/null || true
rm -rf "$prefix"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
"$wine" wineboot -i >/dev/null 2>&1
WINEPREFIX=$prefix "$server" -w
[ -f "$prefix/system.reg" ] || { echo "make-prefix: no prefix was created in $prefix" >&2; exit 1; }
echo "Wine prefix ready: $prefix"
