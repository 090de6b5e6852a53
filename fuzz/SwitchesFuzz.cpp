// Any command-line argument: only "r" and "s", alone or after one '-' or '/', name a switch.
#include "Fuzz.h"
#include "core/Switches.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Text argument = InputText(data, size); // c_str() ends it at its first NUL, as argv would
    bool isFlag = false;
    const TextChar* name = StripSwitchMark(argument.c_str(), isFlag);
    const Text given = argument.c_str();
    REQUIRE(isFlag == (!given.empty() && (given[0] == '-' || given[0] == '/')));
    REQUIRE(Text(name) == (isFlag ? given.substr(1) : given));

    const Switch named = SwitchNamed(name);
    const Text bare = isFlag ? given.substr(1) : given;
    if (bare == UTF16("r"))
        REQUIRE(named == Switch::Reboot);
    else if (bare == UTF16("s"))
        REQUIRE(named == Switch::Silent);
    else
        REQUIRE(named == Switch::None);
    return 0;
}
