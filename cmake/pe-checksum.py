#!/usr/bin/env python3
"""Pads a PE file to a multiple of 8 bytes and writes its checksum into the optional header.

Authenticode signing tools do both to the file they sign and undo neither when the signature is
removed; done here first, removing the signature of a signed release gives back exactly the bytes
that the build made, so a rebuild can be compared with a signed file too.
"""
import struct
import sys


def pe_checksum(data, field):
    total = 0
    for (word,) in struct.iter_unpack("<H", data[:field] + b"\0\0\0\0" + data[field + 4:]):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def main():
    path = sys.argv[1]
    with open(path, "rb") as f:
        data = bytearray(f.read())
    data += b"\0" * (-len(data) % 8)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("pe-checksum: %s is not a PE file" % path)
    field = pe + 24 + 64  # CheckSum, at the same place in PE32 and PE32+
    struct.pack_into("<I", data, field, pe_checksum(bytes(data), field))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
