#include "core/TraceLog.h"

#include <initializer_list>

namespace {
void AppendNumber(Text& text, uint32_t value, int width) {
    TextChar digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<TextChar>('0' + value % 10);
        value /= 10;
    } while (value != 0 && count < 10);
    for (int pad = count; pad < width; ++pad)
        text += '0';
    while (count > 0)
        text += digits[--count];
}

struct Field {
    uint32_t value;
    int width;
};
// The fields, each zero-padded to its width, with separator between them.
void AppendFields(Text& text, std::initializer_list<Field> fields, TextChar separator) {
    bool first = true;
    for (const Field& field : fields) {
        if (!first)
            text += separator;
        AppendNumber(text, field.value, field.width);
        first = false;
    }
}
} // namespace

Text FormatTraceEntry(Text text, const UtcTime& time, Severity severity, uint32_t thread,
                      const Text& component) {
    ReplaceControlCharacters(text);
    // The viewer ends the text at the first "]LOG]!>": such a text must not end it early.
    const Text end = UTF16("]LOG]!>");
    for (size_t at = text.find(end); at != Text::npos; at = text.find(end, at + 1))
        text[at] = 0xFFFD;

    Text entry = UTF16("<![LOG[") + text + UTF16("]LOG]!><time=\"");
    AppendFields(entry, {{time.hour, 2}, {time.minute, 2}, {time.second, 2}}, ':');
    entry += '.';
    AppendNumber(entry, time.milliseconds, 3);
    entry += UTF16("+000\" date=\"");
    AppendFields(entry, {{time.month, 2}, {time.day, 2}, {time.year, 4}}, '-');
    entry += UTF16("\" component=\"") + component + UTF16("\" context=\"\" type=\"");
    AppendNumber(entry, static_cast<uint32_t>(severity), 1);
    entry += UTF16("\" thread=\"");
    AppendNumber(entry, thread, 1);
    entry += UTF16("\" file=\"\">\r\n");
    return entry;
}

Text FormatIsoTime(const UtcTime& time) {
    Text iso;
    AppendFields(iso, {{time.year, 4}, {time.month, 2}, {time.day, 2}}, '-');
    iso += 'T';
    AppendFields(iso, {{time.hour, 2}, {time.minute, 2}, {time.second, 2}}, ':');
    iso += 'Z';
    return iso;
}
