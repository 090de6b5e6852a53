#!/usr/bin/env bash
# Makes the data files of the stand-in update package: Setup.ini, the boot files LoadVF.bin and
# VirtFlpy.bin, and the disk image VelomarHDv.ima. The same sources always give the same bytes.
# Usage: make-data.sh OUTPUT-FOLDER
#
# VelomarHDv.ima: 63,488 sectors of 512 bytes; MBR (disk id 54524E57h) with one active partition of
#   type 06h from sector 2048 for 61,440 sectors; FAT16 in it (volume id 54574B31h, label TARNWICK)
#   holding README.TXT (image-readme.txt with CR LF line ends).
# LoadVF.bin: 512 bytes: FA F4 EB FD (cli; hlt; jmp back to hlt), "BTFPY" at bytes 4 to 8, a note,
#   55h AAh at bytes 510 and 511.
# VirtFlpy.bin: 21,602 bytes: the same first nine bytes, then at bytes 16 to 19 the CRC-32 of
#   VelomarHDv.ima (the CRC of zip and gzip: polynomial EDB88320h reflected, initial and final
#   value FFFFFFFFh), little-endian; a note at byte 32; zeros after it.
# Setup.ini: Setup.ini.txt (UTF-8, LF) as UTF-16LE with the byte-order mark FF FE and CR LF.
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 OUTPUT-FOLDER" >&2; exit 2; }
src=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
work=$(mktemp -d "$out/.make-data.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Fixed file times (2024-01-01 00:00:00) and no user or system mtools configuration.
export TZ=UTC LC_ALL=C MTOOLSRC=/dev/null MTOOLS_SKIP_CHECK=1
stamp=@1704067200

crlf() { sed 's/\r$//; s/$/\r/' "$1"; }

# Setup.ini
{
    printf '\xFF\xFE'
    crlf "$src/Setup.ini.txt" | iconv -f UTF-8 -t UTF-16LE
} >"$work/Setup.ini"

# VelomarHDv.ima: partition table first (sfdisk would wipe a file system it finds), then FAT16.
image=$work/VelomarHDv.ima
truncate -s $((63488 * 512)) "$image"
sfdisk --quiet --no-reread --no-tell-kernel "$image" <<'EOF'
label: dos
label-id: 0x54524e57
unit: sectors
start=2048, size=61440, type=6, bootable
EOF
crlf "$src/boot-message.txt" >"$work/boot-message"
mkfs.fat --offset=2048 -F 16 -S 512 -h 2048 -g 255/63 -a -M 0xF8 -D 0x80 \
    --invariant -i 54574B31 -n TARNWICK -m "$work/boot-message" "$image" $((61440 / 2)) >/dev/null
crlf "$src/image-readme.txt" >"$work/README.TXT"
touch -d "$stamp" "$work/README.TXT"
mcopy -m -i "$image@@$((2048 * 512))" "$work/README.TXT" ::README.TXT

# Boot files: the code, the signature and a note at the start, zeros after.
bootfile() { # FILE SIZE NOTE
    printf '\xFA\xF4\xEB\xFDBTFPY' >"$1"
    truncate -s 32 "$1"
    printf '%s' "$3" >>"$1"
    truncate -s "$2" "$1"
}
bootfile "$work/LoadVF.bin" 510 "Tarnwick stand-in boot sector: no firmware."
printf '\x55\xAA' >>"$work/LoadVF.bin"
bootfile "$work/VirtFlpy.bin" 21602 "Tarnwick stand-in virtual-floppy loader: no firmware."
# gzip's trailer ends with the CRC-32 of its input, little-endian, then the input's length.
gzip -c -n "$image" | tail -c 8 | head -c 4 | dd of="$work/VirtFlpy.bin" bs=1 seek=16 conv=notrunc status=none

for f in Setup.ini LoadVF.bin VirtFlpy.bin VelomarHDv.ima; do
    mv -f "$work/$f" "$out/$f"
done
