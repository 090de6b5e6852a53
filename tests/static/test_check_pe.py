#!/usr/bin/env python3
"""Proves that check_pe.py catches faults: each case damages one thing in a copy of a built
Tarnwick.exe, in memory, and expects exactly the check that covers it to fail, naming the fault.

Usage: test_check_pe.py --package DIR EXE
"""
import argparse
import struct
import sys

import check_pe

UTF16 = "utf-16-le"


def replace_once(data, old, new, start=0, end=None):
    """data with the single occurrence of old in data[start:end] replaced by new (same length)."""
    assert len(old) == len(new)
    end = len(data) if end is None else end
    at = data.find(old, start, end)
    assert at >= 0, "test input lacks %r" % old[:40]
    assert data.find(old, at + 1, end) < 0, "test input holds %r more than once" % old[:40]
    return data[:at] + new + data[at + len(old):]


def resource_span(data, rtype, name):
    """(start, end) file offsets of one resource's bytes."""
    pe = check_pe.PeFile(data)
    resources = pe.resources()
    found = [value for (t, n, _), value in resources.items() if t == rtype and n == name]
    assert len(found) == 1, "test input lacks resource %s/%s" % (rtype, name)
    start = data.find(found[0])
    return start, start + len(found[0])


def in_resource(rtype, name, old, new):
    def mutate(data):
        start, end = resource_span(data, rtype, name)
        return replace_once(data, old, new, start, end)
    return mutate


def pe_header(data):
    return struct.unpack_from("<I", data, 0x3C)[0]


def patch(data, at, fmt, value):
    out = bytearray(data)
    struct.pack_into(fmt, out, at, value)
    return bytes(out)


def versions(os_major, subsystem_major):
    """Sets the OS and subsystem versions to os_major.0 and subsystem_major.0."""
    def mutate(data):
        optional = pe_header(data) + 24
        for at, major in ((optional + 40, os_major), (optional + 48, subsystem_major)):
            data = patch(patch(data, at, "<H", major), at + 2, "<H", 0)
        return data
    return mutate


def first_import_dll(data):
    name = sorted(check_pe.PeFile(data).imports())[0].encode("ascii") + b"\0"
    return replace_once(data, name, b"X" + name[1:])


def forbidden_function(data):
    # An import by name, renamed in place (in the import section) to a function Windows 2000 lacks.
    pe = check_pe.PeFile(data)
    rva, _ = pe.directory(1)
    _, _, raw_at, raw_size = next(s for s in pe.sections if s[0] <= rva < s[0] + s[1])
    return replace_once(data, b"FindClose\0", b"FlsAlloc\0\0", raw_at, raw_at + raw_size)


def flip_image_byte(data):
    start, end = resource_span(data, check_pe.RT_RCDATA, 108)
    middle = (start + end) // 2
    return data[:middle] + bytes([data[middle] ^ 0xFF]) + data[middle + 1:], middle - start


def first_icon_bits(data):
    pe = check_pe.PeFile(data)
    group = pe.resources()[(check_pe.RT_GROUP_ICON, 128, check_pe.LANG_EN_US)]
    first_id = struct.unpack_from("<H", group, 6 + 12)[0]
    start, _ = resource_span(data, check_pe.RT_ICON, first_id)
    if data[start:start + 4] == b"\x89PNG":
        return patch(data, start + 24, "B", 2)  # bit depth of the IHDR chunk
    return patch(data, start + 14, "<H", 2)  # biBitCount


def rename_resource(rtype, name, new_name):
    def mutate(data):
        pe = check_pe.PeFile(data)
        pe.resources()
        return patch(data, pe.resource_entries[(rtype, name)], "<I", new_name)
    return mutate


TRUST = (b'<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>'
         b'<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>'
         b'</requestedPrivileges></security></trustInfo>')
DPI_AWARE = b'<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>'


def manifest(*sections, settings=DPI_AWARE):
    """A shorter manifest of the given sections, after the required trust information and the
    application section holding settings, in place of the built one."""
    text = (b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">' + TRUST +
            (b'<application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings>' + settings +
             b'</windowsSettings></application>' if settings else b'') + b''.join(sections) + b'</assembly>')

    def mutate(data):
        start, end = resource_span(data, check_pe.RT_MANIFEST, 1)
        assert len(text) <= end - start, "the test manifest does not fit"
        return data[:start] + text.ljust(end - start) + data[end:]
    return mutate


SUPPORTED_OS = (b'<compatibility><application>'
                b'<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/></application></compatibility>')
PER_MONITOR = (b'<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2'
               b'</dpiAwareness>')


def field_text(text, other):
    return in_resource(check_pe.RT_DIALOG, 101, text.encode(UTF16), other.encode(UTF16))


# (what is damaged, damage, check expected to fail, text its message must hold)
CASES = [
    ("machine ARM", lambda d: patch(d, pe_header(d) + 4, "<H", 0x1C4), "machine", "0x1C4"),
    ("OS version 6.0", versions(6, 5), "versions", "OS version is 6.0"),
    ("subsystem version 4.0", versions(5, 4), "versions", "subsystem version is 4.0"),
    ("console subsystem", lambda d: patch(d, pe_header(d) + 24 + 68, "<H", 3), "subsystem", "subsystem is 3"),
    ("foreign DLL", first_import_dll, "import dlls", "outside the allow-list: X"),
    ("import newer than 2000", forbidden_function, "import functions", "KERNEL32.dll!FlsAlloc"),
    ("dialog caption", field_text("Velomar HD Firmware Update", "Velomar HD Firmware Updat!"),
     "dialog 101", "title"),
    ("hint line visible", in_resource(check_pe.RT_DIALOG, 101, struct.pack("<I", 0x40020002),
                                      struct.pack("<I", 0x50020002)),
     "dialog 101", "control 7 (id 1004) style"),
    ("dialog style", in_resource(check_pe.RT_DIALOG, 101, struct.pack("<I", 0x90C000C8),
                                 struct.pack("<I", 0x90C800C8)), "dialog 101", "dialog 101 style"),
    ("first line cut off", in_resource(check_pe.RT_DIALOG, 101, struct.pack("<hhhh", 53, 21, 260, 8),
                                       struct.pack("<hhhh", 53, 21, 148, 8)),
     "dialog 101", "control 2 (id 1000) cx is 148"),
    ("dialog font", field_text("MS Shell Dlg", "MS Shell Dlh"), "dialog 101", "face"),
    ("button text", field_text("Close", "Clos!"), "dialog 101", "control 6 (id 8) text"),
    ("icon image depth", first_icon_bits, "icon 128", "icon group 128 holds"),
    ("icon group moved", rename_resource(check_pe.RT_GROUP_ICON, 128, 129), "icon 128", "missing"),
    ("manifest uiAccess", in_resource(check_pe.RT_MANIFEST, 1, b'uiAccess="false"', b'uiAccess="true" '),
     "manifest", "uiAccess 'true'"),
    ("manifest level",
     in_resource(check_pe.RT_MANIFEST, 1, b'"requireAdministrator"', b'"asInvoker"'.ljust(22)),
     "manifest", "level 'asInvoker'"),
    ("manifest supportedOS", manifest(SUPPORTED_OS), "manifest", "'compatibility'"),
    ("manifest not DPI-aware", manifest(settings=None), "manifest", "sections are ['trustInfo']"),
    ("manifest dpiAware no", in_resource(check_pe.RT_MANIFEST, 1, b">true<", b">yes <"), "manifest",
     "dpiAware is 'yes '"),
    ("manifest dpiAwareness", manifest(settings=DPI_AWARE + PER_MONITOR), "manifest", "}dpiAwareness'"),
    ("manifest id 2", rename_resource(check_pe.RT_MANIFEST, 1, 2), "manifest", "(2, 1033)"),
    ("file description", in_resource(check_pe.RT_VERSION, 1, "FileDescription".encode(UTF16),
                                     "FileDescriptiom".encode(UTF16)), "version", "FileDescription is None"),
    ("company name", in_resource(check_pe.RT_VERSION, 1, "Velomar\0".encode(UTF16), "Velomir\0".encode(UTF16)),
     "version", "CompanyName is 'Velomir'"),
    ("disk image byte", lambda d: flip_image_byte(d)[0], "package", "resource 108"),
    ("Setup.ini as 107", rename_resource(check_pe.RT_RCDATA, 103, 107),
     "package", "resource 103 (Setup.ini)"),
    ("version as 107", rename_resource(check_pe.RT_VERSION, 1, 107), "package", "a resource 107 exists"),
]


def outcome(results, name):
    return next((o, detail) for n, o, detail in results if n == name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--package", required=True)
    parser.add_argument("exe")
    args = parser.parse_args()
    with open(args.exe, "rb") as f:
        original = f.read()
    baseline = check_pe.run_checks(original, args.package)
    failures = 0
    for label, damage, check, text in CASES:
        results = check_pe.run_checks(damage(original), args.package)
        got, detail = outcome(results, check)
        before = outcome(baseline, check)[1]
        caught = got == "FAIL" and text in detail and text not in before
        # Damage to one thing must not disturb the checks of other things.
        others = [n for (n, o, d), (_, o0, d0) in zip(results, baseline) if n != check and (o, d) != (o0, d0)]
        ok = caught and not others
        failures += not ok
        print("  %-4s %-24s %s: %s%s" % ("ok" if ok else "FAIL", label, check, detail,
                                         "" if not others else " (also changed: %s)" % others))
    _, offset = flip_image_byte(original)
    disk = outcome(check_pe.run_checks(flip_image_byte(original)[0], args.package), "package")[1]
    exact = "at byte %d" % offset in disk
    failures += not exact
    print("  %-4s %-24s the message names byte %d: %s" % ("ok" if exact else "FAIL", "difference located",
                                                       offset, disk))
    skipped = check_pe.run_checks(original, args.package, product=False)
    skip_ok = [o for n, o, _ in skipped if n in ("machine", "versions", "import functions")] == ["skip"] * 3
    failures += not skip_ok
    print("  %-4s %-24s i686-only checks are skipped, not passed, for another executable"
          % ("ok" if skip_ok else "FAIL", "not-product mode"))
    print("%d of %d fault cases not caught" % (failures, len(CASES) + 2))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
