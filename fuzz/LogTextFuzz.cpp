// The log's entries for any text: each at most MaxLogEntry units with its CR LF, no control
// character inside, no surrogate pair split across two entries, no entry cut shorter than it had
// to be, and the entries joined give back the text (control characters as U+FFFD).
#include "Fuzz.h"
#include "core/LogText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Text text = InputText(data, size);
    const Text entries = FormatLogEntries(text);

    Text expected = text;
    for (TextChar& c : expected)
        if (c < 0x20 || c == 0x7F)
            c = 0xFFFD;

    Text joined;
    Text previous;
    size_t start = 0;
    bool first = true;
    while (start < entries.size()) {
        const size_t end = entries.find(UTF16("\r\n"), start);
        REQUIRE(end != Text::npos); // every entry ends with CR LF
        const Text entry = entries.substr(start, end - start);
        REQUIRE(entry.size() + 2 <= MaxLogEntry);
        for (TextChar c : entry)
            REQUIRE(c >= 0x20 && c != 0x7F);
        if (!first) {
            // The one before was full, or one short because it would have ended inside a pair.
            REQUIRE(previous.size() + 2 == MaxLogEntry ||
                    (previous.size() + 3 == MaxLogEntry && IsHighSurrogate(text[joined.size()])));
            REQUIRE(!(IsHighSurrogate(previous.back()) && entry[0] >= 0xDC00 && entry[0] <= 0xDFFF));
            REQUIRE(!entry.empty());
        }
        joined += entry;
        previous = entry;
        first = false;
        start = end + 2;
    }
    REQUIRE(!first); // even the empty text is one (empty) entry
    REQUIRE(joined == expected);
    return 0;
}
