// Any exit code of the installer: a text exactly for 1 to 16, each its own.
#include "Fuzz.h"
#include "core/SetupExitCode.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t code = 0;
    std::memcpy(&code, data, size < sizeof code ? size : sizeof code);
    const Text text = SetupExitCodeText(code);
    REQUIRE(text.empty() == !(code >= 1 && code <= 16));
    if (!text.empty()) {
        REQUIRE(text.back() == '.');
        for (uint32_t other = 1; other <= 16; ++other)
            REQUIRE((other == code) == (SetupExitCodeText(other) == text));
    }
    return 0;
}
