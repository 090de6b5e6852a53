#include "core/Switches.h"

const TextChar* StripSwitchMark(const TextChar* argument, bool& isFlag) {
    isFlag = argument[0] == '-' || argument[0] == '/';
    return isFlag ? argument + 1 : argument;
}

Switch SwitchNamed(const Text& name) {
    if (name == UTF16("r"))
        return Switch::Reboot;
    if (name == UTF16("s"))
        return Switch::Silent;
    return Switch::None;
}
