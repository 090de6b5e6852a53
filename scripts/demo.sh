#!/usr/bin/env bash
# Builds Tarnwick and runs it under Wine in a scratch working directory (demo-output/), by default
# on a simulated machine with a supported drive (the fake WMI provider), through extraction, the
# stand-in installer and the removal of the files, to the success dialog.
#   --wine-wmi   ask Wine's own WMI instead (its drives are not supported: the run ends with 104)
#   --silent     pass /s (no window; the exit code tells the outcome)
# With a display the window is yours to use; without one the demo runs under Xvfb, waits for the
# outcome, saves a screenshot of the dialog (demo-output/dialog.png) and presses Close. It ends by
# printing the log, the history log, the result record and the exit code.
set -euo pipefail
source "$(dirname "$0")/build-lib.sh"

wine_wmi=0 args=()
for option in "$@"; do
  case $option in
    --wine-wmi) wine_wmi=1 ;;
    --silent) args+=(/s) ;;
    *) echo "demo: unknown option $option (use --wine-wmi, --silent)" >&2; exit 2 ;;
  esac
done

"$root/scripts/install-deps.sh"
build_product
if [ "${TARNWICK_EMULATE_I386:-0}" = 1 ]; then
  enable_i386_emulation
  trap disable_i386_emulation EXIT
fi
arch=$(run_arch)
wine=$(wine_loader "$arch")
tree=$build/test-$arch
configure_and_build "$arch" "$tree" -- Tarnwick FakeWmi tarnwick_demo_run
if [ "$arch" = i686 ]; then
  exe=$build/i686/Tarnwick.exe
  echo "Running the shipped program $exe under $(i686_how)"
else
  exe=$tree/Tarnwick.exe
  echo "NOTE: this machine cannot run 32-bit code ($(i686_refusal))."
  echo "NOTE: the shipped program $build/i686/Tarnwick.exe was built but does not run here;"
  echo "NOTE: the demo runs the x86_64 build of the same sources, $exe, under $wine instead."
fi

prefix=$build/demo-prefix
"$root/cmake/make-prefix.sh" "$wine" "$prefix" >/dev/null
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
winpath() { printf 'Z:%s' "${1//\//\\}"; }

out=$root/demo-output
rm -rf "$out"
mkdir -p "$out"
if [ "$wine_wmi" -eq 0 ]; then
  cat >"$out/simulated-machine.txt" <<'SCENARIO'
# A simulated machine: an unsupported drive at position 0, a supported one at position 1, MBR disk.
drive 0 model="Other Disk 500" firmware="1.0" pnp="IDE\DiskOther__1.0_"
drive 1 model="ATA VLM3064 50B3D160" firmware="V3D1" pnp="IDE\DiskVLM__V3D1_"
partition type="Installable File System"
SCENARIO
  "$wine" reg add 'HKLM\Software\Classes\CLSID\{4590F811-1D3A-11D0-891F-00AA004B2E24}\InprocServer32' \
    /ve /d "$(winpath "$tree/tests/fakewmi/FakeWmi.dll")" /f >/dev/null 2>&1
  export TARNWICK_FAKE_WMI=$(winpath "$out/simulated-machine.txt")
  echo "Simulated machine: $out/simulated-machine.txt"
fi
"$wine" reg add 'HKCU\Software\Wine\AppDefaults\Tarnwick.exe' /v Version /d win7 /f >/dev/null 2>&1

export TARNWICK_EXE=$(winpath "$exe")
driver=("$wine" "$tree/tests/system/tarnwick_demo_run.exe" "$(winpath "$out")")
set +e
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "Running Tarnwick.exe${args[*]:+ ${args[*]}} in a window; press OK or Close when it is done."
  (cd "$out" && "${driver[@]}" - - "${args[@]}") >"$out/.driver"
  grep -v '^Tarnwick.exe exit code' "$out/.driver"
else
  # Wine draws the window frame itself on a virtual desktop of the screen's size.
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
  export DISPLAY=$display
  echo "Running Tarnwick.exe${args[*]:+ ${args[*]}} under Xvfb ($display)"
  (cd "$out" && "${driver[@]}" "$(winpath "$out/.ready")" "$(winpath "$out/.done")" "${args[@]}") >"$out/.driver" &
  running=$!
  while kill -0 "$running" 2>/dev/null && [ ! -s "$out/.ready" ]; do sleep 0.2; done
  if [ -s "$out/.ready" ]; then
    sleep 0.5
    read -r x y w h <"$out/.ready"
    if import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/dialog.png" 2>/dev/null; then
      echo "Screenshot of the dialog: $out/dialog.png"
    fi
    touch "$out/.done"
  fi
  wait "$running"
  kill "$xvfb" 2>/dev/null
  grep -v '^Tarnwick.exe exit code' "$out/.driver"
fi
set -e
code=$(sed -n 's/^Tarnwick.exe exit code: \([0-9]*\).*/\1/p' "$out/.driver")
rm -f "$out/.ready" "$out/.done" "$out/.driver"

echo
echo "---- $out/VelomarHDDInstallerLog.txt ----"
iconv -f UTF-16 -t UTF-8 "$out/VelomarHDDInstallerLog.txt" | tr -d '\r'
echo "---- files left in $out ----"
ls -1 "$out"
history="$prefix/drive_c/ProgramData/Velomar/HD Firmware Update/Tarnwick.log"
if [ -f "$history" ]; then
  echo "---- the history log (C:\\ProgramData\\Velomar\\HD Firmware Update\\Tarnwick.log) ----"
  tr -d '\r' <"$history"
fi
echo "---- the result record ----"
"$wine" reg query 'HKLM\SOFTWARE\Velomar\HD Firmware Update' /reg:64 2>/dev/null | tr -d '\r' | sed '/^$/d' || true
echo
echo "Tarnwick.exe exit code: $code"
