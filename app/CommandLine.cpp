#include "app/CommandLine.h"

#include <cwchar>

void CommandLine::ParseParam(const wchar_t* param, BOOL, BOOL) {
    if (wcscmp(param, L"r") == 0)
        m_bRebootSwitch = 1;
    else if (wcscmp(param, L"s") == 0)
        m_bSilentSwitch = 1;
}
