// Any command-line argument: only "r", "s", "c", "?" and "l=<file>", alone or after one '-' or '/',
// name a switch; a log file's name is the rest of the argument, a pair of quotes around it removed.
#include "Fuzz.h"
#include "core/Switches.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Text argument = InputText(data, size); // c_str() ends it at its first NUL, as argv would
    bool isFlag = false;
    const TextChar* name = StripSwitchMark(argument.c_str(), isFlag);
    const Text given = argument.c_str();
    REQUIRE(isFlag == (!given.empty() && (given[0] == '-' || given[0] == '/')));
    const Text bare = isFlag ? given.substr(1) : given;
    REQUIRE(Text(name) == bare);

    const ParsedSwitch parsed = ParseSwitch(name);
    REQUIRE(parsed.value.empty() == (parsed.kind != Switch::LogFile));
    if (bare == UTF16("r"))
        REQUIRE(parsed.kind == Switch::Reboot);
    else if (bare == UTF16("s"))
        REQUIRE(parsed.kind == Switch::Silent);
    else if (bare == UTF16("c"))
        REQUIRE(parsed.kind == Switch::CheckOnly);
    else if (bare == UTF16("?"))
        REQUIRE(parsed.kind == Switch::Usage);
    else if (bare == UTF16("v"))
        REQUIRE(parsed.kind == Switch::Verify);
    else if (parsed.kind == Switch::LogFile) {
        REQUIRE(bare.compare(0, 2, UTF16("l=")) == 0);
        const Text rest = bare.substr(2);
        REQUIRE(rest == parsed.value || rest == UTF16("\"") + parsed.value + UTF16("\""));
    } else {
        REQUIRE(parsed.kind == Switch::None);
        // "l=" names a file only with one after it.
        if (bare.compare(0, 2, UTF16("l=")) == 0)
            REQUIRE(bare.size() == 2 || bare == UTF16("l=\"\""));
    }
    return 0;
}
