#!/usr/bin/env bash
# Checks the stand-in package's data files with the disk tools, and that making them again gives
# the same bytes.
# Usage: check-data.sh PACKAGE-FOLDER MAKE-DATA-SCRIPT WORK-FOLDER
set -uo pipefail
pkg=$1 make_data=$2 work=$3
export LC_ALL=C MTOOLSRC=/dev/null MTOOLS_SKIP_CHECK=1
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
expect() { # WHAT ACTUAL EXPECTED
    [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}
hex() { # FILE OFFSET COUNT
    xxd -p -s "$2" -l "$3" "$1"
}

rm -rf "$work" && mkdir -p "$work"
image=$pkg/VelomarHDv.ima

# Sizes and signatures.
expect "LoadVF.bin size" "$(stat -c %s "$pkg/LoadVF.bin")" 512
expect "VirtFlpy.bin size" "$(stat -c %s "$pkg/VirtFlpy.bin")" 21602
expect "VelomarHDv.ima size" "$(stat -c %s "$image")" 32505856
expect "LoadVF.bin signature" "$(hex "$pkg/LoadVF.bin" 4 5)" "$(printf BTFPY | xxd -p)"
expect "LoadVF.bin end" "$(hex "$pkg/LoadVF.bin" 510 2)" 55aa
expect "VirtFlpy.bin signature" "$(hex "$pkg/VirtFlpy.bin" 4 5)" "$(printf BTFPY | xxd -p)"
for f in Setup.exe Unins.exe; do
    expect "$f header" "$(head -c 2 "$pkg/$f")" MZ
done
expect "files in the package folder" "$(ls -A "$pkg" | sort | tr '\n' ' ')" \
    "LoadVF.bin Setup.exe Setup.ini Unins.exe VelomarHDv.ima VirtFlpy.bin "

# The partition table, as sfdisk reads it.
table=$(sfdisk --dump "$image" 2>&1) || fail "sfdisk cannot read the image: $table"
expect "label" "$(sed -n 's/^label: //p' <<<"$table")" dos
expect "partitions" "$(grep -c ' : start=' <<<"$table")" 1
expect "partition 1" "$(grep ' : start=' <<<"$table" | sed 's/.* : //; s/ //g')" \
    "start=2048,size=61440,type=6,bootable"

# The file system in the partition.
dd if="$image" of="$work/partition" bs=512 skip=2048 count=61440 status=none
check=$(fsck.fat -n "$work/partition" 2>&1) || fail "fsck.fat finds faults: $check"
info=$(minfo -i "$work/partition" :: 2>&1) || fail "minfo: $info"
expect "file system type" "$(sed -n 's/^disk type="\(.*\)"$/\1/p' <<<"$info")" "FAT16   "
expect "sector size" "$(sed -n 's/^sector size: \([0-9]*\) bytes$/\1/p' <<<"$info" | head -n1)" 512
expect "hidden sectors" "$(sed -n 's/^hidden sectors: \([0-9]*\)$/\1/p' <<<"$info")" 2048
expect "sectors" "$(sed -n 's/^small size: \([0-9]*\) sectors$/\1/p' <<<"$info")" 61440
expect "root directory" "$(mdir -b -i "$work/partition" ::)" "::/README.TXT"
readme=$(mtype -i "$work/partition" ::README.TXT | tr -d '\r')
grep -q "stand-in disk image of the Tarnwick project" <<<"$readme" || fail "README.TXT: '$readme'"
grep -q "holds no firmware" <<<"$readme" || fail "README.TXT does not say that it holds no firmware"

# Setup.ini: byte-order mark, CR LF only, and its exact lines.
ini=$pkg/Setup.ini
expect "Setup.ini byte-order mark" "$(hex "$ini" 0 2)" fffe
tail -c +3 "$ini" | iconv -f UTF-16LE -t UTF-8 >"$work/ini" || fail "Setup.ini is not UTF-16LE"
expect "Setup.ini line ends" "$(grep -c $'\r$' "$work/ini")" "$(wc -l <"$work/ini")"
expect "Setup.ini CRs" "$(tr -cd '\r' <"$work/ini" | wc -c)" "$(wc -l <"$work/ini")"
expect "Setup.ini end" "$(tail -c 2 "$work/ini" | xxd -p)" 0d0a
{
    printf '%s\n' \
        '/* In case the values for [Setup] and [Silent] sections are either not informed or incorrect, /* the default values are: ' \
        '/* RemoveOld=Yes' '/* RemoveNextReboot=Yes' '/* Reboot=No' '' \
        '[setup]' 'VistaImageFile=VelomarHDv.ima' 'RemoveOld=Yes  ' 'RemoveNextReboot=Yes' 'Reboot=No' '' \
        '/* Ask is not a valid value accepted for this section. If it is informed, the default values /* will be assumed' \
        '[silent]' 'RemoveOld=Yes' 'RemoveNextReboot=Yes' 'Reboot=No' '' \
        '/* You must add here any additional files included in the package in addition to the image /* file name specified in the /* section [Setup]. ' \
        '[Additional Files]' 'File1=test1.txt' 'File2=test2.txt' '' \
        '/* The key "Text" must have at most 15 characters, otherwise the string will be truncated'
    for language in English French Spanish Italian German Portuguese 'Simplified Chinese' \
        'Traditional Chinese' Japanese Korean Swedish; do
        printf '\n[%s]\nText=Velomar Update\n' "$language"
    done
} >"$work/ini.expected"
tr -d '\r' <"$work/ini" | diff "$work/ini.expected" - >&2 || fail "Setup.ini lines differ (above)"
expect "Setup.ini size" "$(stat -c %s "$ini")" 2272

# Made again, later and elsewhere: the same bytes. FAT keeps times to 2 s: let the clock move on.
[ $(($(date +%s) - $(stat -c %Y "$image"))) -ge 3 ] || sleep 3
bash "$make_data" "$work/again" >/dev/null || fail "make-data.sh failed"
for f in Setup.ini LoadVF.bin VirtFlpy.bin VelomarHDv.ima; do
    cmp -s "$pkg/$f" "$work/again/$f" || fail "$f differs when made again"
done

rm -rf "$work"
[ $failures -eq 0 ] && echo "stand-in data files: all checks passed"
exit $((failures > 0))
