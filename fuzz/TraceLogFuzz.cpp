// Any text, at any time, in the history log: exactly one entry on one line, which gives back the
// text (control characters as U+FFFD) between its markers.
#include "Fuzz.h"
#include "core/TraceLog.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t fields[8] = {};
    std::memcpy(fields, data, size < sizeof fields ? size : sizeof fields);
    const size_t skip = size < sizeof fields ? size : sizeof fields;
    const Text text = InputText(data + skip, size - skip);
    const UtcTime time = {1601u + fields[0] * 2u, 1u + fields[1] % 12u, 1u + fields[2] % 31u,
                          fields[3] % 24u,        fields[4] % 60u,      fields[5] % 60u,
                          fields[6] * 4u % 1000u};
    const Severity severity = static_cast<Severity>(1 + fields[7] % 3);

    const Text entry = FormatTraceEntry(text, time, severity, 4242, UTF16("Tarnwick"));
    const Text start = UTF16("<![LOG["), end = UTF16("]LOG]!>");
    REQUIRE(entry.compare(0, start.size(), start) == 0);
    REQUIRE(entry.size() >= 2 && entry.compare(entry.size() - 2, 2, UTF16("\r\n")) == 0);
    // One line: the only CR LF is the last.
    REQUIRE(entry.find(TextChar('\r')) == entry.size() - 2 && entry.find(TextChar('\n')) == entry.size() - 1);
    const size_t endAt = entry.find(end);
    REQUIRE(endAt != Text::npos && entry.find(end, endAt + 1) == Text::npos);

    Text expected = text;
    for (TextChar& c : expected)
        if (c < 0x20 || c == 0x7F)
            c = 0xFFFD;
    const Text shown = entry.substr(start.size(), endAt - start.size());
    REQUIRE(shown.size() == expected.size());
    for (size_t i = 0; i < shown.size(); ++i)
        REQUIRE(shown[i] == expected[i] || (expected[i] == ']' && shown[i] == 0xFFFD));

    const Text tail = entry.substr(endAt);
    REQUIRE(tail.find(UTF16("type=\"")) != Text::npos);
    REQUIRE(tail[tail.find(UTF16("type=\"")) + 6] == TextChar('0' + static_cast<int>(severity)));
    const Text iso = FormatIsoTime(time);
    REQUIRE(iso.size() == 20 && iso[4] == '-' && iso[10] == 'T' && iso[19] == 'Z');
    return 0;
}
