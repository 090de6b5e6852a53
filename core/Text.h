#pragma once
// Text as the program handles it: UTF-16 code units. On Windows these are wchar_t, so that Text is
// std::wstring; native builds of the text functions (the fuzz targets) use char16_t instead.
#include <cwchar>
#include <string>

#if WCHAR_MAX == 0xFFFF
using TextChar = wchar_t;
#define UTF16(literal) L##literal
#else
using TextChar = char16_t;
#define UTF16(literal) u##literal
#endif
using Text = std::basic_string<TextChar>;

inline bool IsHighSurrogate(TextChar c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

// Control characters as U+FFFD: a text from outside (a drive's model, a folder) can then neither end
// a log entry early nor forge one.
inline void ReplaceControlCharacters(Text& text) {
    for (TextChar& c : text)
        if (c < 0x20 || c == 0x7F)
            c = 0xFFFD;
}
