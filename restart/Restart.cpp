#include "restart/Restart.h"

#include "platform/Owned.h"
#include "platform/Platform.h"
#include "report/SetupContext.h"

#include <cwchar>
#include <string>

std::wstring CountdownLine(int seconds) {
    wchar_t line[64];
    swprintf(line, 64, L"Restarting Windows in %.2d seconds...", seconds);
    return line;
}

namespace {
void ShowError(const wchar_t* text) {
    CurrentPlatform().ShowMessageBox(text, ApplicationName().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void AdjustShutdownPrivilege(DWORD attributes) {
    Platform& platform = CurrentPlatform();
    unique_handle token;
    if (!platform.OpenOwnProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        ShowError(L"ERROR: Unable to open process token.");
        token.release(); // whatever a failed call left there is no handle
    }
    TOKEN_PRIVILEGES privileges = {};
    LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = attributes;
    if (platform.AdjustPrivileges(token.get(), &privileges) != ERROR_SUCCESS)
        ShowError(L"ERROR: Uanble to adjust token privileges.");
}
} // namespace

void RequestReboot() {
    Logoff logoff(1);
    EnableShutdownPrivilege();
    CurrentPlatform().RequestReboot(EWX_REBOOT, 0);
    DisableShutdownPrivilege();
}

void EnableShutdownPrivilege() {
    AdjustShutdownPrivilege(SE_PRIVILEGE_ENABLED);
}

void DisableShutdownPrivilege() {
    AdjustShutdownPrivilege(0);
}

void RestartIfRequested(SetupContext& context) {
    if (context.m_bReboot != 1)
        return;
    context.PostStatus(L"Restarting Windows...");
    for (int seconds = RestartCountdownSeconds; seconds >= 1; --seconds) {
        context.PostDetail(CountdownLine(seconds));
        CurrentPlatform().Pause(1000);
    }
    RequestReboot();
}
