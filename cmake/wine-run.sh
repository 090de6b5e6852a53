#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine in the build's test prefix.
# Usage: wine-run.sh WINE-LOADER PREFIX PROGRAM [ARGS...]
set -u
wine=$1 prefix=$2
shift 2
export WINEPREFIX=$prefix
export WINEDEBUG=${TARNWICK_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree=;mshtml="
exec "$wine" "$@"
