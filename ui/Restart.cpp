#include "ui/Restart.h"

#include "install/Platform.h"
#include "install/SetupThread.h"
#include "resources/resource.h"
#include "ui/TarnwickDlg.h"

#include <cwchar>
#include <string>

namespace {
std::wstring CountdownLine(int seconds) {
    wchar_t line[64];
    swprintf(line, 64, L"Restarting Windows in %.2d seconds...", seconds);
    return line;
}

void ShowError(const wchar_t* text) {
    CurrentPlatform().ShowMessageBox(text, ApplicationName().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void AdjustShutdownPrivilege(DWORD attributes) {
    Platform& platform = CurrentPlatform();
    HANDLE token = nullptr;
    if (!platform.OpenOwnProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        ShowError(L"ERROR: Unable to open process token.");
        token = nullptr;
    }
    TOKEN_PRIVILEGES privileges = {};
    LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = attributes;
    if (platform.AdjustPrivileges(token, &privileges) != ERROR_SUCCESS)
        ShowError(L"ERROR: Uanble to adjust token privileges.");
    if (token != nullptr)
        CloseHandle(token);
}

void RequestReboot() {
    Logoff logoff(1);
    EnableShutdownPrivilege();
    CurrentPlatform().RequestReboot(EWX_REBOOT, 0);
    DisableShutdownPrivilege();
}
} // namespace

void EnableShutdownPrivilege() {
    AdjustShutdownPrivilege(SE_PRIVILEGE_ENABLED);
}

void DisableShutdownPrivilege() {
    AdjustShutdownPrivilege(0);
}

void RestartWithCountdown(TarnwickDlg& dialog) {
    dialog.m_bRestarting = TRUE;
    dialog.SetDlgItemText(IDC_STATUS_TEXT, L"Restarting Windows...");
    for (int seconds = RestartCountdownSeconds; seconds >= 1; --seconds) {
        dialog.SetDlgItemText(IDC_DETAIL_TEXT, CountdownLine(seconds).c_str());
        // The thread handles no messages while it counts down: paint the line now.
        RedrawWindow(dialog.GetSafeHwnd(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        CurrentPlatform().Pause(1000);
    }
    dialog.EndDialog(IDOK);
    RequestReboot();
}

void RestartIfRequested(SetupThread& thread) {
    if (thread.m_bReboot != 1)
        return;
    thread.PostStatus(L"Restarting Windows...");
    for (int seconds = RestartCountdownSeconds; seconds >= 1; --seconds) {
        thread.PostDetail(CountdownLine(seconds));
        CurrentPlatform().Pause(1000);
    }
    RequestReboot();
}
