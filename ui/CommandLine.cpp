#include "ui/CommandLine.h"

#include "core/Switches.h"

void CommandLine::ParseParam(const wchar_t* param, BOOL, BOOL) {
    const ParsedSwitch parsed = ParseSwitch(param);
    switch (parsed.kind) {
    case Switch::Reboot:
        m_bRebootSwitch = 1;
        break;
    case Switch::Silent:
        m_bSilentSwitch = 1;
        break;
    case Switch::CheckOnly:
        m_bCheckOnlySwitch = 1;
        break;
    case Switch::Usage:
        m_bUsageSwitch = 1;
        break;
    case Switch::Verify:
        m_bVerifySwitch = 1;
        break;
    case Switch::LogFile:
        m_logFile = parsed.value;
        break;
    case Switch::None:
        m_ignored.push_back(m_current);
        return;
    }
    m_switches.push_back(m_current);
}
