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
