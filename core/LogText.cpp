#include "core/LogText.h"

Text FormatLogEntries(Text text) {
    for (TextChar& c : text) {
        if (c < 0x20 || c == 0x7F)
            c = 0xFFFD;
    }
    constexpr size_t maxText = MaxLogEntry - 2;
    Text lines;
    size_t start = 0;
    do {
        size_t length = text.size() - start;
        if (length > maxText) {
            length = maxText;
            if (IsHighSurrogate(text[start + length - 1]))
                --length;
        }
        lines.append(text, start, length);
        lines += UTF16("\r\n");
        start += length;
    } while (start < text.size());
    return lines;
}
