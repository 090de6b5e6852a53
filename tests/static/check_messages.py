#!/usr/bin/env python3
"""Static check of the event log's message file, read from the PE files.

Usage: check_messages.py EXE [DLL]

The program carries the message file as raw-data resource 110; DLL, where given, must be those
bytes. The message file must be a resource-only DLL (no imports, no entry point) whose message
table (US English) holds exactly the events below: each event ID with its severity in the top two
bits of the message id, and its text with the three insertion strings. The checker then plants a
changed severity and a changed text in a copy and must catch both.
Prints one line per check and exits 1 if any failed.
"""
import struct
import sys

from check_pe import Failure, PeFile, expect, find, LANG_EN_US, RT_RCDATA

RT_MESSAGETABLE = 11
MESSAGES_RESOURCE = 110
INFORMATION, WARNING, ERROR = 1, 2, 3
DETAIL = "%nExit code: %1%nState: %2%nResult: %3\n"  # %n: a line break in the viewer

# Event ID as the event viewer shows it: (severity, text). README lists the same IDs.
EVENTS = {
    1000: (INFORMATION, "The firmware update is installed; it runs at the next start of Windows."),
    1001: (INFORMATION, "The update is already on this drive; nothing was installed."),
    1002: (WARNING, "The firmware update does not apply to this machine (Windows, boot loader or drive)."),
    1003: (WARNING, "The firmware update run was cancelled."),
    1004: (WARNING, "Another run of the firmware update is in progress; this run did nothing."),
    1005: (ERROR, "The firmware update failed."),
    1100: (INFORMATION, "Verified after the restart: the drive runs the new firmware."),
    1101: (WARNING, "The firmware update is not verified yet; the check runs again at the next start of Windows."),
    1102: (ERROR, "Verified after the restart: the drive does not run the new firmware."),
}


def message_table(data):
    """{full message id: text} of a MESSAGE_RESOURCE_DATA block."""
    messages = {}
    blocks = struct.unpack_from("<I", data, 0)[0]
    for i in range(blocks):
        low, high, at = struct.unpack_from("<III", data, 4 + 12 * i)
        for message_id in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, at)
            expect(flags == 1, "message 0x%08X is not stored as Unicode" % message_id)
            messages[message_id] = data[at + 4:at + length].decode("utf-16-le").rstrip("\0")
            at += length
    return messages


def check_message_file(dll):
    pe = PeFile(dll)
    expect(not pe.imports(), "the message file imports %s" % sorted(pe.imports()))
    entry = struct.unpack_from("<I", dll, struct.unpack_from("<I", dll, 0x3C)[0] + 24 + 16)[0]
    expect(entry == 0, "the message file has an entry point (0x%X)" % entry)
    tables = find(pe.resources(), RT_MESSAGETABLE, 1)
    expect(list(tables) == [LANG_EN_US], "message table 1 has languages %s, expected only 1033" % sorted(tables))
    found = message_table(tables[LANG_EN_US])
    expected = {severity << 30 | event_id: text + DETAIL for event_id, (severity, text) in EVENTS.items()}
    for message_id in sorted(set(found) | set(expected)):
        expect(found.get(message_id) == expected.get(message_id),
               "message 0x%08X (event ID %d): %r, expected %r"
               % (message_id, message_id & 0xFFFF, found.get(message_id), expected.get(message_id)))
    return "%d events: %s" % (len(found), ", ".join(str(i & 0xFFFF) for i in sorted(found, key=lambda i: i & 0xFFFF)))


def planted_faults_caught(dll):
    text = EVENTS[1005][1].encode("utf-16-le")
    at = dll.index(text)
    changed_text = dll[:at] + "X".encode("utf-16-le") + dll[at + 2:]
    table_at = dll.index(struct.pack("<II", 0x400003E8, 0x400003E9))  # the first block's id range
    changed_severity = dll[:table_at] + struct.pack("<II", 0x800003E8, 0x800003E9) + dll[table_at + 8:]
    for name, copy in (("a changed text", changed_text), ("a changed severity", changed_severity)):
        try:
            check_message_file(copy)
        except Failure:
            continue
        raise Failure("the checker passed %s" % name)
    return "a changed text and a changed severity are caught"


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__)
        return 2
    with open(sys.argv[1], "rb") as f:
        exe = f.read()
    results = []
    try:
        carried = find(PeFile(exe).resources(), RT_RCDATA, MESSAGES_RESOURCE)
        expect(len(carried) == 1, "raw-data resource %d is missing or duplicated" % MESSAGES_RESOURCE)
        dll = next(iter(carried.values()))
        results.append(("carried", "ok", "resource %d, %d bytes" % (MESSAGES_RESOURCE, len(dll))))
    except Failure as failure:
        results.append(("carried", "FAIL", str(failure)))
        dll = None
    if dll is not None:
        if len(sys.argv) == 3:
            with open(sys.argv[2], "rb") as f:
                built = f.read()
            results.append(("built dll", "ok" if built == dll else "FAIL",
                            "%s %s the carried bytes" % (sys.argv[2], "equals" if built == dll else "differs from")))
        for name, check in (("message table", check_message_file), ("checker", planted_faults_caught)):
            try:
                results.append((name, "ok", check(dll)))
            except (Failure, struct.error, ValueError, UnicodeDecodeError) as error:
                results.append((name, "FAIL", str(error)))
    print("message file checks of %s" % sys.argv[1])
    for name, outcome, detail in results:
        print("  %-4s %-14s %s" % (outcome, name, detail))
    return 1 if any(outcome == "FAIL" for _, outcome, _ in results) else 0


if __name__ == "__main__":
    sys.exit(main())
