#include "core/Switches.h"

const TextChar* StripSwitchMark(const TextChar* argument, bool& isFlag) {
    isFlag = argument[0] == '-' || argument[0] == '/';
    return isFlag ? argument + 1 : argument;
}

ParsedSwitch ParseSwitch(const Text& name) {
    ParsedSwitch parsed;
    if (name == UTF16("r"))
        parsed.kind = Switch::Reboot;
    else if (name == UTF16("s"))
        parsed.kind = Switch::Silent;
    else if (name == UTF16("c"))
        parsed.kind = Switch::CheckOnly;
    else if (name == UTF16("v"))
        parsed.kind = Switch::Verify;
    else if (name == UTF16("?"))
        parsed.kind = Switch::Usage;
    else if (name.compare(0, 2, UTF16("l=")) == 0) {
        Text file = name.substr(2);
        // The runtime's split keeps quotes that were escaped or stood inside the value.
        if (file.size() >= 2 && file.front() == '"' && file.back() == '"')
            file = file.substr(1, file.size() - 2);
        if (!file.empty()) {
            parsed.kind = Switch::LogFile;
            parsed.value = file;
        }
    }
    return parsed;
}
