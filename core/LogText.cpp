#include "core/LogText.h"

Text FormatLogEntries(Text text) {
    ReplaceControlCharacters(text);
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
