#!/usr/bin/env python3
"""Static checks of a built Tarnwick.exe, read straight from the PE file.

Usage: check_pe.py [--not-product] --package DIR EXE

Checks the headers (PE32 for i686, GUI subsystem, subsystem and OS version 5.0), the import table
(only DLLs that every Windows has, nothing a Windows 2000 loader would refuse) and the resources
(dialog 101, icon group 128, manifest, version, the six package files from DIR byte for byte).
--not-product checks an executable that is not the shipped i686 one (e.g. an x86_64 test build):
the i686-only assertions (machine, versions, functions newer than Windows 2000) are then reported
as skipped, never as passed.
Prints one line per check and exits 1 if any failed.
"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ET

# DLLs present on every Windows release since 2000 (compared without case).
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "ole32.dll",
                "oleaut32.dll", "msvcrt.dll", "shell32.dll"}

# Functions that Windows 2000 does not export: importing one stops the program from loading there.
# Such functions may only be reached through GetProcAddress.
NEWER_THAN_2000 = {
    # Vista and later
    "GetTickCount64", "InitializeCriticalSectionEx", "InitializeSRWLock", "AcquireSRWLockExclusive",
    "AcquireSRWLockShared", "ReleaseSRWLockExclusive", "ReleaseSRWLockShared",
    "TryAcquireSRWLockExclusive", "InitializeConditionVariable", "SleepConditionVariableCS",
    "SleepConditionVariableSRW", "WakeConditionVariable", "WakeAllConditionVariable",
    "InitOnceExecuteOnce", "InitOnceBeginInitialize", "InitOnceComplete", "CreateEventExW",
    "CreateMutexExW", "CreateSemaphoreExW", "GetErrorMode", "GetFinalPathNameByHandleW",
    "QueryFullProcessImageNameW", "CancelIoEx", "GetFileInformationByHandleEx",
    "CreateSymbolicLinkW", "RegGetValueW", "RegGetValueA", "RegDeleteKeyExW", "SetProcessDPIAware",
    "ChangeWindowMessageFilter", "SHGetKnownFolderPath", "InitializeProcThreadAttributeList",
    "UpdateProcThreadAttribute", "DeleteProcThreadAttributeList", "CreateBoundaryDescriptorW",
    "AddSIDToBoundaryDescriptor", "DeleteBoundaryDescriptor", "CreatePrivateNamespaceW",
    "OpenPrivateNamespaceW", "ClosePrivateNamespace",
    # Windows 7, 8 and the KB2533623 update
    "SetThreadErrorMode", "GetSystemTimePreciseAsFileTime", "SetDefaultDllDirectories",
    "AddDllDirectory", "RemoveDllDirectory",
    # Windows XP and Server 2003
    "SetDllDirectoryW", "SetDllDirectoryA", "AddVectoredExceptionHandler",
    "RemoveVectoredExceptionHandler", "GetModuleHandleExW", "GetModuleHandleExA",
    "GetNativeSystemInfo", "IsWow64Process", "EncodePointer", "DecodePointer", "FlsAlloc",
    "FlsFree", "FlsGetValue", "FlsSetValue", "GetProcessId", "GetThreadId",
    "GetLogicalProcessorInformation", "Wow64DisableWow64FsRedirection", "CreateWellKnownSid",
    "HeapSetInformation", "AttachConsole", "PrintWindow",
}

PACKAGE = [("Setup.exe", 102), ("Setup.ini", 103), ("Unins.exe", 104), ("LoadVF.bin", 105),
           ("VirtFlpy.bin", 106), ("VelomarHDv.ima", 108)]

RT_ICON, RT_DIALOG, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 10, 14, 16, 24
LANG_EN_US = 1033

DIALOG = {"style": 0x90C000C8, "ex_style": 0x00040000, "x": 0, "y": 0, "cx": 320, "cy": 116,
          "menu": "", "class": "", "title": "Velomar HD Firmware Update", "point": 8,
          "face": "MS Shell Dlg"}
# id, class, text, x, y, cx, cy, style, extended style
CONTROLS = [
    (-1, "static", 128, 20, 15, 20, 20, 0x50000003, 0x00000020),
    (1000, "static", "Please wait while setup runs the installation...", 53, 21, 260, 8, 0x50020000, 0),
    (1001, "static", "Setup status:", 17, 44, 44, 8, 0x50020000, 0),
    (1002, "static", "[ status text... ]", 65, 44, 237, 8, 0x50020000, 0),
    (1, "button", "OK", 205, 95, 50, 14, 0x58010000, 0),
    (8, "button", "Close", 263, 95, 50, 14, 0x58010000, 0),
    (1004, "static", "", 7, 77, 306, 8, 0x40020002, 0),
    (1003, "static", "", 65, 58, 248, 8, 0x50020000, 0),
]
CONTROL_FIELDS = ("id", "class", "text", "x", "y", "cx", "cy", "style", "ex_style")

# (width, height, bits per pixel) of the twelve images of icon group 128.
ICON_IMAGES = sorted([(16, 16, 4), (16, 16, 8), (16, 16, 24), (24, 24, 24), (32, 32, 1),
                      (32, 32, 4), (32, 32, 8), (48, 48, 4), (48, 48, 8), (48, 48, 24),
                      (64, 64, 24), (128, 128, 24)])


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


class PeFile:
    """The parts of a PE image that the checks read."""

    def __init__(self, data):
        self.data = data
        expect(data[:2] == b"MZ", "no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        expect(data[pe:pe + 4] == b"PE\0\0", "no PE signature")
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        expect(self.magic in (0x10B, 0x20B), "unknown optional header magic 0x%X" % self.magic)
        self.os_version = struct.unpack_from("<HH", data, opt + 40)
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        directories = opt + (96 if self.magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        for i in range(sections):
            at = opt + optional_size + 40 * i
            _, virtual_size, rva, raw_size, raw_at = struct.unpack_from("<8sIIII", data, at)
            self.sections.append((rva, max(virtual_size, raw_size), raw_at, raw_size))

    def offset(self, rva):
        for start, size, raw_at, raw_size in self.sections:
            if start <= rva < start + size:
                expect(rva - start < raw_size, "RVA 0x%X lies outside the file's data" % rva)
                return raw_at + rva - start
        raise Failure("RVA 0x%X is in no section" % rva)

    def read(self, rva, size):
        at = self.offset(rva)
        return self.data[at:at + size]

    def c_string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imports(self):
        """{dll name: [function name or '#ordinal']} of the import and delay-import tables."""
        result = {}
        wide = self.magic == 0x20B
        thunk_size, ordinal_flag = (8, 1 << 63) if wide else (4, 1 << 31)

        def functions(table_rva):
            names = []
            while True:
                thunk = struct.unpack("<Q" if wide else "<I", self.read(table_rva, thunk_size))[0]
                if thunk == 0:
                    return names
                if thunk & ordinal_flag:
                    names.append("#%d" % (thunk & 0xFFFF))
                else:
                    names.append(self.c_string((thunk & 0x7FFFFFFF) + 2))
                table_rva += thunk_size

        rva, _ = self.directory(1)
        while rva:
            lookup, _, _, name, first = struct.unpack("<IIIII", self.read(rva, 20))
            if name == 0:
                break
            result.setdefault(self.c_string(name), []).extend(functions(lookup or first))
            rva += 20
        rva, _ = self.directory(13)
        while rva:
            _, name, _, _, names_rva = struct.unpack("<IIIII", self.read(rva, 20))
            if name == 0:
                break
            result.setdefault(self.c_string(name), []).extend(functions(names_rva))
            rva += 32
        return result

    def resources(self):
        """{(type, name, language): bytes}; type and name are ints or upper-case strings."""
        base, _ = self.directory(2)
        result = {}
        self.resource_entries = {}  # (type, name): file offset of that directory entry
        if base == 0:
            return result

        def entries(at):
            named, numbered = struct.unpack("<HH", self.read(base + at + 12, 4))
            for i in range(named + numbered):
                entry = base + at + 16 + 8 * i
                name, target = struct.unpack("<II", self.read(entry, 8))
                if name & 0x80000000:
                    length = struct.unpack("<H", self.read(base + (name & 0x7FFFFFFF), 2))[0]
                    name = self.read(base + (name & 0x7FFFFFFF) + 2, 2 * length).decode("utf-16-le")
                yield name, target, self.offset(entry)

        for rtype, type_dir, _ in entries(0):
            for name, name_dir, at in entries(type_dir & 0x7FFFFFFF):
                self.resource_entries[(rtype, name)] = at
                for lang, leaf, _ in entries(name_dir & 0x7FFFFFFF):
                    expect(not leaf & 0x80000000, "resource tree deeper than three levels")
                    data_rva, size = struct.unpack("<II", self.read(base + leaf, 8))
                    result[(rtype, name, lang)] = self.read(data_rva, size)
        return result


def find(resources, rtype, name):
    """{language: bytes} of one resource."""
    return {lang: data for (t, n, lang), data in resources.items() if t == rtype and n == name}


def only_english(resources, rtype, name, what):
    found = find(resources, rtype, name)
    expect(found, "%s is missing" % what)
    expect(list(found) == [LANG_EN_US], "%s has languages %s, expected only 1033" % (what, sorted(found)))
    return found[LANG_EN_US]


class Reader:
    """Sequential reader of a resource's little-endian fields."""

    def __init__(self, data, at=0):
        self.data, self.at = data, at

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def wide(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        text = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return text

    def name_or_ordinal(self):
        if struct.unpack_from("<H", self.data, self.at)[0] == 0xFFFF:
            return self.take("HH")[1]
        return self.wide()

    def align(self, boundary=4):
        self.at = (self.at + boundary - 1) // boundary * boundary


def parse_dialog(data):
    r = Reader(data)
    version, signature = r.take("HH")
    expect((version, signature) == (1, 0xFFFF),
           "dialog 101 is not an extended template (version %d, signature 0x%X)" % (version, signature))
    dialog = {}
    _, dialog["ex_style"], dialog["style"], count = r.take("IIIH")
    dialog["x"], dialog["y"], dialog["cx"], dialog["cy"] = r.take("hhhh")
    dialog["menu"], dialog["class"], dialog["title"] = r.name_or_ordinal(), r.name_or_ordinal(), r.wide()
    if dialog["style"] & 0x40:  # DS_SETFONT
        dialog["point"], _, _, _ = r.take("HHBB")
        dialog["face"] = r.wide()
    controls = []
    for _ in range(count):
        r.align()
        _, ex_style, style = r.take("III")
        x, y, cx, cy = r.take("hhhh")
        control_id = r.take("i")
        atoms = {0x80: "button", 0x81: "edit", 0x82: "static", 0x83: "listbox", 0x84: "scrollbar",
                 0x85: "combobox"}
        cls = r.name_or_ordinal()
        cls = atoms.get(cls, cls) if isinstance(cls, int) else cls.lower()
        text = r.name_or_ordinal()
        extra = r.take("H")
        r.at += extra
        controls.append(dict(zip(CONTROL_FIELDS, (control_id, cls, text, x, y, cx, cy, style, ex_style))))
    return dialog, controls


def show(key, value):
    return "0x%08X" % value if key.endswith("style") and isinstance(value, int) else repr(value)


def check_dialog(resources):
    dialog, controls = parse_dialog(only_english(resources, RT_DIALOG, 101, "dialog 101"))
    for key, want in DIALOG.items():
        expect(dialog.get(key) == want,
               "dialog 101 %s is %s, expected %s" % (key, show(key, dialog.get(key)), show(key, want)))
    expect(len(controls) == len(CONTROLS),
           "dialog 101 has %d controls, expected %d" % (len(controls), len(CONTROLS)))
    for number, (have, want) in enumerate(zip(controls, CONTROLS), 1):
        for key, value in zip(CONTROL_FIELDS, want):
            expect(have[key] == value, "dialog 101 control %d (id %d) %s is %s, expected %s"
                   % (number, want[0], key, show(key, have[key]), show(key, value)))
    return "extended template, 320x116, 8 controls as designed"


def icon_image_format(data):
    """(width, height, bits per pixel) of one RT_ICON image, PNG or DIB."""
    if data[:8] == b"\x89PNG\r\n\x1a\n":
        width, height, depth, colour = struct.unpack_from(">IIBB", data, 16)
        channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
        return width, height, depth * channels
    size, width, height, planes, bits = struct.unpack_from("<IiiHH", data)
    expect(size >= 40, "icon image is neither PNG nor a bitmap")
    return width, height // 2, planes * bits


def check_icon(resources):
    group = only_english(resources, RT_GROUP_ICON, 128, "icon group 128")
    reserved, kind, count = struct.unpack_from("<HHH", group)
    expect((reserved, kind) == (0, 1), "icon group 128 has a bad header")
    expect(len(group) == 6 + 14 * count, "icon group 128 is %d bytes for %d entries" % (len(group), count))
    images = []
    for i in range(count):
        width, height, _, _, _, _, size, image_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        found = find(resources, RT_ICON, image_id)
        expect(len(found) == 1, "icon image %d of group 128 is missing" % image_id)
        data = next(iter(found.values()))
        expect(len(data) == size,
               "icon image %d is %d bytes, the group says %d" % (image_id, len(data), size))
        image = icon_image_format(data)
        expect((width or 256, height or 256) == image[:2],
               "icon image %d is %dx%d, the group says %dx%d" % (image_id, image[0], image[1], width, height))
        images.append(image)
    expect(sorted(images) == ICON_IMAGES,
           "icon group 128 holds %s, expected %s" % (sorted(images), ICON_IMAGES))
    return "12 images"


ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"


def local(tag):
    return tag.rsplit("}", 1)[-1]


def check_manifest(resources):
    manifests = {(n, lang) for (t, n, lang) in resources if t == RT_MANIFEST}
    expect(manifests == {(1, LANG_EN_US)}, "manifest resources are %s, expected only id 1 language 1033"
           % sorted(manifests))
    data = resources[(RT_MANIFEST, 1, LANG_EN_US)]
    try:
        root = ET.fromstring(data)
    except ET.ParseError as error:
        raise Failure("manifest is not well-formed XML: %s" % error)
    expect(local(root.tag) == "assembly", "manifest root is <%s>, expected <assembly>" % local(root.tag))
    # No compatibility section: a supported-OS list would make Windows 10 report 10.0 to the program.
    sections = [local(child.tag) for child in root]
    expect(sections == ["trustInfo", "application"],
           "manifest sections are %s, expected trustInfo and application" % sections)
    levels = [e for e in root.iter() if local(e.tag) == "requestedExecutionLevel"]
    expect(len(levels) == 1, "manifest has %d requestedExecutionLevel elements" % len(levels))
    level, ui = levels[0].get("level"), levels[0].get("uiAccess")
    expect((level, ui) == ("requireAdministrator", "false"),
           "execution level %r uiAccess %r, expected requireAdministrator and false" % (level, ui))
    expect(root[1].tag == ASM_V3 + "application" and [e.tag for e in root[1]] == [ASM_V3 + "windowsSettings"],
           "manifest application section is %s holding %s, expected asm.v3 application and windowsSettings"
           % (root[1].tag, [e.tag for e in root[1]]))
    settings = [e for e in root.iter() if local(e.tag) == "windowsSettings"]
    expect(len(settings) == 1 and [e.tag for e in settings[0]] == [WINDOWS_SETTINGS + "dpiAware"],
           "manifest windowsSettings hold %s, expected dpiAware alone"
           % [[e.tag for e in s] for s in settings])
    aware = settings[0][0].text
    expect(aware is not None and aware.strip() == "true", "manifest dpiAware is %r, expected 'true'" % aware)
    others = sorted({local(e.tag) for e in root.iter()} - {"assembly", "trustInfo", "security",
                                                           "requestedPrivileges", "requestedExecutionLevel",
                                                           "application", "windowsSettings", "dpiAware"})
    expect(not others, "manifest has further elements: %s" % others)
    return "requireAdministrator, uiAccess false, dpiAware true, nothing else"


def parse_version_block(data, at):
    """(key, value, children, end) of one node of a VS_VERSIONINFO tree."""
    r = Reader(data, at)
    length, value_length, kind = r.take("HHH")
    end = at + length
    key = r.wide()
    r.align()
    if kind == 1:
        value = data[r.at:r.at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        r.at += 2 * value_length
    else:
        value = data[r.at:r.at + value_length]
        r.at += value_length
    children = []
    r.align()
    while r.at < end:
        child = parse_version_block(data, r.at)
        children.append(child)
        r.at = (child[3] + 3) // 4 * 4
    return key, value, children, end


def check_version(resources, expected_version=None):
    found = {(n, lang) for (t, n, lang) in resources if t == RT_VERSION}
    expect(len(found) == 1, "there are %d version resources, expected one" % len(found))
    data = resources[(RT_VERSION, *found.pop())]
    key, fixed, children, _ = parse_version_block(data, 0)
    expect(key == "VS_VERSION_INFO", "version resource key is %r" % key)
    expect(len(fixed) == 52 and struct.unpack_from("<I", fixed)[0] == 0xFEEF04BD,
           "version resource has no fixed file information")
    ms, ls = struct.unpack_from("<II", fixed, 8)
    numbers = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    expect(any(numbers), "the fixed file version is 0.0.0.0")
    strings = {}
    for child_key, _, tables, _ in children:
        if child_key == "StringFileInfo":
            for _, _, values, _ in tables:
                strings.update({k: v for k, v, _, _ in values})
    description = strings.get("FileDescription")
    expect(description == "Velomar HD Firmware Update",
           "FileDescription is %r, expected 'Velomar HD Firmware Update'" % description)
    # What deployment consoles and the file's properties show.
    expect(strings.get("CompanyName") == "Velomar", "CompanyName is %r, expected 'Velomar'" % strings.get("CompanyName"))
    expect("Velomar" in strings.get("LegalCopyright", ""),
           "LegalCopyright is %r, expected a notice naming Velomar" % strings.get("LegalCopyright"))
    expect("firmware update" in strings.get("Comments", ""),
           "Comments is %r, expected a text naming the firmware update" % strings.get("Comments"))
    text = strings.get("FileVersion", "")
    expect(text, "the version strings have no FileVersion")
    expect(strings.get("ProductVersion") == text,
           "ProductVersion %r differs from FileVersion %r" % (strings.get("ProductVersion"), text))
    parts = text.split(".")
    expect(all(p.isdigit() for p in parts) and tuple(map(int, parts)) == numbers[:len(parts)],
           "FileVersion %r disagrees with the fixed version %s" % (text, ".".join(map(str, numbers))))
    expect(expected_version is None or text == expected_version,
           "FileVersion %r is not the project version %r" % (text, expected_version))
    return "FileVersion %s (%s), %s, %s" % (text, ".".join(map(str, numbers)), strings["CompanyName"],
                                            strings["LegalCopyright"])


def first_difference(a, b):
    chunk = 1 << 16
    at = next((i for i in range(0, min(len(a), len(b)), chunk) if a[i:i + chunk] != b[i:i + chunk]), None)
    if at is None:
        return min(len(a), len(b))
    return next(i for i in range(at, at + chunk) if i >= min(len(a), len(b)) or a[i] != b[i])


def check_package(resources, package_dir):
    for name, resource_id in PACKAGE:
        found = find(resources, RT_RCDATA, resource_id)
        expect(len(found) == 1, "raw-data resource %d (%s) is missing or duplicated" % (resource_id, name))
        path = os.path.join(package_dir, name)
        expect(os.path.isfile(path), "package file %s does not exist" % path)
        with open(path, "rb") as f:
            expected = f.read()
        data = next(iter(found.values()))
        if data != expected:
            differs = first_difference(data, expected)
            raise Failure("resource %d is %d bytes and differs from %s (%d bytes) at byte %d"
                          % (resource_id, len(data), path, len(expected), differs))
    with_107 = sorted({t for (t, n, _) in resources if n == 107})
    expect(not with_107, "a resource 107 exists (types %s)" % with_107)
    return "102-106 and 108 equal the files of %s; no 107" % package_dir


def check_headers_i686(pe):
    expect(pe.machine == 0x14C, "machine is 0x%X, expected 0x14C (i386)" % pe.machine)
    expect(pe.magic == 0x10B, "optional header magic is 0x%X, expected 0x10B (PE32)" % pe.magic)
    return "PE32, i386"


def check_versions_5_0(pe):
    expect(pe.os_version == (5, 0), "OS version is %d.%d, expected 5.0" % pe.os_version)
    expect(pe.subsystem_version == (5, 0), "subsystem version is %d.%d, expected 5.0" % pe.subsystem_version)
    return "OS and subsystem version 5.0"


def check_subsystem(pe):
    expect(pe.subsystem == 2, "subsystem is %d, expected 2 (Windows GUI)" % pe.subsystem)
    return "Windows GUI"


def check_import_dlls(imports):
    foreign = sorted(dll for dll in imports if dll.lower() not in ALLOWED_DLLS)
    expect(imports, "the import table is empty")
    expect(not foreign, "imports DLLs outside the allow-list: %s" % ", ".join(foreign))
    return ", ".join(sorted(imports, key=str.lower))


def check_import_functions(imports):
    newer = sorted("%s!%s" % (dll, f) for dll, functions in imports.items() for f in functions
                   if f in NEWER_THAN_2000 or (dll.lower() == "msvcrt.dll" and f.endswith("_s")))
    expect(not newer, "imports functions that Windows 2000 lacks: %s" % ", ".join(newer))
    return "%d functions, none newer than Windows 2000" % sum(map(len, imports.values()))


def run_checks(data, package_dir, product=True, version=None):
    """[(check name, 'ok' | 'FAIL' | 'skip', detail)] for one executable's bytes."""
    results = []

    def run(name, check, *args, i686_only=False):
        if i686_only and not product:
            results.append((name, "skip", "not the shipped i686 executable"))
            return
        try:
            results.append((name, "ok", check(*args)))
        except Failure as failure:
            results.append((name, "FAIL", str(failure)))
        except (struct.error, ValueError, IndexError, KeyError, UnicodeDecodeError) as error:
            results.append((name, "FAIL", "malformed data: %s: %s" % (type(error).__name__, error)))

    try:
        pe = PeFile(data)
        imports = pe.imports()
        resources = pe.resources()
    except (Failure, struct.error, ValueError, IndexError, UnicodeDecodeError) as error:
        return [("pe file", "FAIL", "cannot read the PE file: %s" % error)]
    run("machine", check_headers_i686, pe, i686_only=True)
    run("versions", check_versions_5_0, pe, i686_only=True)
    run("subsystem", check_subsystem, pe)
    run("import dlls", check_import_dlls, imports)
    run("import functions", check_import_functions, imports, i686_only=True)
    run("dialog 101", check_dialog, resources)
    run("icon 128", check_icon, resources)
    run("manifest", check_manifest, resources)
    run("version", check_version, resources, version)
    run("package", check_package, resources, package_dir)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--package", required=True, help="folder holding the six package files of that build")
    parser.add_argument("--not-product", action="store_true",
                        help="not the shipped i686 executable: skip the i686-only assertions")
    parser.add_argument("--version", help="the project version that FileVersion must state")
    parser.add_argument("exe")
    args = parser.parse_args()
    if not os.path.isdir(args.package):
        print("package folder %s does not exist" % args.package)
        return 1
    with open(args.exe, "rb") as f:
        results = run_checks(f.read(), args.package, product=not args.not_product, version=args.version)
    print("static checks of %s" % args.exe)
    for name, outcome, detail in results:
        print("  %-4s %-16s %s" % (outcome, name, detail))
    failed = sum(outcome == "FAIL" for _, outcome, _ in results)
    skipped = sum(outcome == "skip" for _, outcome, _ in results)
    print("%d checks failed, %d skipped, %d passed" % (failed, skipped, len(results) - failed - skipped))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
