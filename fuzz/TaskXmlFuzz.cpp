// The next-start task's XML for any program path and arguments: the escaped text holds no markup
// character and no character XML cannot hold, unescaping it gives the text back (those characters as
// U+FFFD), and the task keeps exactly one Command and one Arguments element whatever the text.
#include "Fuzz.h"
#include "core/TaskXml.h"

namespace {
size_t Count(const Text& text, const Text& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != Text::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Text text = InputText(data, size);
    const Text escaped = XmlEscaped(text);

    Text unescaped;
    static const Text references[][2] = {{UTF16("&amp;"), UTF16("&")},
                                         {UTF16("&lt;"), UTF16("<")},
                                         {UTF16("&gt;"), UTF16(">")},
                                         {UTF16("&quot;"), UTF16("\"")},
                                         {UTF16("&apos;"), UTF16("'")}};
    for (size_t at = 0; at < escaped.size();) {
        const TextChar c = escaped[at];
        REQUIRE(c != UTF16('<') && c != UTF16('>') && c != UTF16('"') && c != UTF16('\''));
        REQUIRE(c >= 0x20 || c == 0x09 || c == 0x0A || c == 0x0D);
        REQUIRE(c != 0xFFFE && c != 0xFFFF);
        if (c != UTF16('&')) {
            unescaped += c;
            ++at;
            continue;
        }
        bool known = false;
        for (const auto& reference : references)
            if (escaped.compare(at, reference[0].size(), reference[0]) == 0) {
                unescaped += reference[1];
                at += reference[0].size();
                known = true;
                break;
            }
        REQUIRE(known);
    }
    Text expected = text;
    for (TextChar& c : expected)
        if ((c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF)
            c = 0xFFFD;
    REQUIRE(unescaped == expected);

    const Text xml = NextStartTaskXml(text, text, text);
    REQUIRE(Count(xml, UTF16("<Command>")) == 1 && Count(xml, UTF16("</Command>")) == 1);
    REQUIRE(Count(xml, UTF16("<Arguments>")) == 1 && Count(xml, UTF16("</Arguments>")) == 1);
    REQUIRE(Count(xml, UTF16("<BootTrigger>")) == 1);
    return 0;
}
