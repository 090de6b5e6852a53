#!/usr/bin/env bash
# "/s /r" after a successful run requests the reboot as ExitWindowsEx(EWX_REBOOT, planned software
# installation), seen in Wine's relay trace, counts down in the log first, and the run ends with 0.
# Usage: reboot-request.sh WINE-LOADER PREFIX TARNWICK.EXE FAKEWMI.DLL
set -u
wine=$1 prefix=$2 exe=$3 fakewmi=$4
export WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree=;mshtml="
work=$(mktemp -d)
locator='HKLM\Software\Classes\CLSID\{4590F811-1D3A-11D0-891F-00AA004B2E24}\InprocServer32'
winreg() { WINEDEBUG=-all "$wine" reg "$@" >/dev/null 2>&1; }
original=$(WINEDEBUG=-all "$wine" reg query "$locator" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')
cleanup() {
  winreg add "$locator" /ve /d "$original" /f
  winreg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f
  rm -rf "$work"
}
trap cleanup EXIT

cat > "$work/scenario.txt" <<'SCENARIO'
drive 0 model="ATA VLM3064 50B3D160" firmware="V3D1" pnp="IDE\DiskVLM__V3D1_"
partition type="Installable File System"
SCENARIO
winreg add "$locator" /ve /d "Z:${fakewmi//\//\\}" /f
winreg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'user32.ExitWindowsEx' /f
winreg add 'HKCU\Software\Wine\AppDefaults\Tarnwick.exe' /v Version /d win7 /f

history="$prefix/drive_c/ProgramData/Velomar/HD Firmware Update/Tarnwick.log"
rm -f "$history"
# A machine that has not run the update yet: an earlier test's record (an update staged and waiting
# for the restart) would end the run with 3010 before it installs anything.
winreg delete 'HKLM\SOFTWARE\Velomar\HD Firmware Update' /f /reg:64
winreg delete 'HKLM\SOFTWARE\Velomar\HD Firmware Update' /f /reg:32
cd "$work"
TARNWICK_FAKE_WMI="Z:${work//\//\\}\\scenario.txt" WINEDEBUG=-all,+relay "$wine" "$exe" /s /r 2>relay.txt
code=$?
failed=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi; }
check "exit code 0 (was $code)" '[ "$code" -eq 0 ]'
check "ExitWindowsEx called once with EWX_REBOOT and the planned reason 80030002" \
  '[ "$(grep -cE "Call user32\.ExitWindowsEx\(0+2,80030002\)" relay.txt)" -eq 1 ]'
log=$(iconv -f UTF-16 -t UTF-8 VelomarHDDInstallerLog.txt 2>/dev/null | tr -d '\r')
check "log counts down from 15 to 01" \
  '[ "$(printf "%s\n" "$log" | grep -c "^Restarting Windows in [0-9][0-9] seconds...$")" -eq 15 ] &&
   printf "%s\n" "$log" | grep -qx "Restarting Windows in 01 seconds..."'
check "the history log says Windows is restarting" \
  'grep -q "Windows is restarting (planned: software installation)." "$history"'
check "the history log ends with exit code 0" \
  '[ "$(grep -o "<!\[LOG\[[^]]*" "$history" | tail -n 1)" = "<![LOG[Exit code 0 (Installed)" ]'
check "no package file left" '! ls Setup.exe Setup.ini Unins.exe LoadVF.bin VirtFlpy.bin VelomarHDv.ima 2>/dev/null'
[ "$failed" -eq 0 ] || { grep -E "ExitWindowsEx" relay.txt | head -5; printf "%s\n" "$log" | tail -5; }
exit "$failed"
