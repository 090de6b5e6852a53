#include "restart/Restart.h"

#include "platform/Owned.h"
#include "platform/Platform.h"
#include "report/HistoryLog.h"
#include "report/SetupContext.h"

#include <cwchar>
#include <string>

std::wstring CountdownLine(int seconds) {
    wchar_t line[64];
    swprintf(line, 64, L"Restarting Windows in %.2d seconds...", seconds);
    return line;
}

namespace {
volatile LONG g_rebootInitiated = 0;
std::function<void(int32_t)> g_restartRecorder;

void RecordEnd(int32_t exitCode) {
    if (g_restartRecorder)
        g_restartRecorder(exitCode);
}

// A message box, or with silentLog an entry in its log: in a silent run no one may be there to
// answer a box (Local System under a deployment engine), and the run would wait on it for ever.
void ShowError(const wchar_t* text, SetupContext* silentLog) {
    if (silentLog != nullptr)
        silentLog->WriteLog(text);
    else
        CurrentPlatform().ShowMessageBox(text, ApplicationName().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void AdjustShutdownPrivilege(DWORD attributes, SetupContext* silentLog) {
    Platform& platform = CurrentPlatform();
    unique_handle token;
    if (!platform.OpenOwnProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        ShowError(L"ERROR: Unable to open process token.", silentLog);
        token.release(); // whatever a failed call left there is no handle
    }
    TOKEN_PRIVILEGES privileges = {};
    LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = attributes;
    if (platform.AdjustPrivileges(token.get(), &privileges) != ERROR_SUCCESS)
        ShowError(L"ERROR: Uanble to adjust token privileges.", silentLog);
}
} // namespace

void SetRestartRecorder(std::function<void(int32_t exitCode)> recorder) {
    g_restartRecorder = std::move(recorder);
}

bool RequestReboot(int32_t exitCode, SetupContext* silentLog) {
    Logoff logoff(1);
    EnableShutdownPrivilege(silentLog);
    Platform& platform = CurrentPlatform();
    // ExitWindowsEx acts for the interactive user's session; a caller that no user sees (SYSTEM
    // under a deployment engine) asks through InitiateSystemShutdownEx instead.
    const bool interactive = platform.IsInteractiveSession();
    History().Write(std::wstring(L"Windows is restarting (planned: software installation") +
                    (interactive ? L")." : L"; requested for a session without a user)."));
    RecordEnd(exitCode);
    const bool initiated = interactive ? platform.RequestReboot(EWX_REBOOT, PlannedRestartReason) != FALSE
                                       : platform.InitiateRestart(PlannedRestartReason) != FALSE;
    const DWORD error = initiated ? 0 : GetLastError();
    DisableShutdownPrivilege(silentLog);
    g_rebootInitiated = initiated ? 1 : 0;
    if (!initiated) {
        History().Write(L"Windows refused to restart (error " + std::to_wstring(error) +
                            L"); the update runs at the next restart.",
                        Severity::Error);
        RecordEnd(ERROR_SUCCESS_REBOOT_REQUIRED);
    }
    return initiated;
}

bool RebootInitiated() {
    return g_rebootInitiated != 0;
}

void EnableShutdownPrivilege(SetupContext* silentLog) {
    AdjustShutdownPrivilege(SE_PRIVILEGE_ENABLED, silentLog);
}

void DisableShutdownPrivilege(SetupContext* silentLog) {
    AdjustShutdownPrivilege(0, silentLog);
}

bool RestartIfRequested(SetupContext& context) {
    if (context.m_bReboot != 1)
        return true;
    context.EnterStage(RunStage::CountingDown); // from here until the request, Esc cancels the restart
    context.PostStatus(L"Restarting Windows...");
    for (int seconds = RestartCountdownSeconds; seconds >= 1 && !context.Cancelled(); --seconds) {
        context.PostDetail(CountdownLine(seconds));
        CurrentPlatform().Pause(1000);
    }
    if (!context.EnterStage(RunStage::Restarting))
        return false;
    RequestReboot(0, context.m_bSilent ? &context : nullptr);
    return true;
}
