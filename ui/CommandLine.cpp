#include "ui/CommandLine.h"

#include "core/Switches.h"

void CommandLine::ParseParam(const wchar_t* param, BOOL, BOOL) {
    switch (SwitchNamed(param)) {
    case Switch::Reboot:
        m_bRebootSwitch = 1;
        break;
    case Switch::Silent:
        m_bSilentSwitch = 1;
        break;
    case Switch::None:
        break;
    }
}
