#!/usr/bin/env bash
# The shipped exe, as it is, starts under Wine in a prefix of its own and runs to its defined
# outcome on this machine: a silent run with Wine's own WMI, whose drives are not supported, ends
# with 104 and logs why. Cheap where 32-bit code runs natively; where it runs only through
# user-mode emulation it is the one run of the shipped bytes that fits the time (see
# docs/32-bit-emulation.md).
# Usage: smoke.sh WINE-LOADER WORK-DIR TARNWICK.EXE
set -u
wine=$1 work=$2 exe=$3
rm -rf "$work"
mkdir -p "$work/run"
started=$(date +%s)
"$(dirname "$0")/../../cmake/make-prefix.sh" "$wine" "$work/prefix" || exit 1
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
"$wine" reg add 'HKCU\Software\Wine\AppDefaults\Tarnwick.exe' /v Version /d win7 /f >/dev/null 2>&1
prefixed=$(date +%s)
(cd "$work/run" && timeout 900 "$wine" "$exe" /s)
code=$?
ended=$(date +%s)
echo "prefix $((prefixed - started)) s, run $((ended - prefixed)) s, exit code $code"
log=$(iconv -f UTF-16 -t UTF-8 "$work/run/VelomarHDDInstallerLog.txt" 2>/dev/null | tr -d '\r')
echo "$log" | tail -n 3
expected='Exception: This hard disk model is not supported. Model = WineDiskDrive'
[ "$code" -eq 104 ] || { echo "FAIL: exit code $code, expected 104"; exit 1; }
[ "$(echo "$log" | tail -n 1)" = "$expected" ] || { echo "FAIL: the log does not end with: $expected"; exit 1; }
[ -z "$(ls "$work/run" | grep -v VelomarHDDInstallerLog.txt)" ] || { echo "FAIL: files left: $(ls "$work/run")"; exit 1; }
echo "the shipped exe ran to its outcome"
