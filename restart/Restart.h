#pragma once
// Restarting Windows into the update: the countdown, the shutdown privilege and the reboot request.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

class SetupContext;

constexpr int RestartCountdownSeconds = 15;

// Marks a restart in progress for as long as a restart routine runs.
class Logoff {
  public:
    explicit Logoff(int32_t kind) : m_nKind(kind) {}
    virtual ~Logoff() = default;
    int32_t m_nKind; // 1: the session ends in a restart
};

// The "r" switch: counts down through the context's lines and asks Windows to reboot. False when Esc
// cancelled the countdown: no restart is requested.
bool RestartIfRequested(SetupContext& context);

// The countdown's detail line for the seconds left.
std::wstring CountdownLine(int seconds);
// The reason a restart gives Windows: planned, for a software installation (with 0, Windows records
// an unplanned shutdown and may first collect a state file).
constexpr DWORD PlannedRestartReason =
    SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_SOFTWARE | SHTDN_REASON_MINOR_INSTALLATION;

// Enables the shutdown privilege, asks Windows to restart, and disables the privilege again. True
// when Windows has started the restart. exitCode: what the program ends with once Windows restarts;
// the restart recorder writes it down first, and 3010 after a refusal. The privilege's errors show in
// message boxes, or, given a silent run's context, go to its log.
bool RequestReboot(int32_t exitCode, SetupContext* silentLog = nullptr);
// A restart that goes ahead may end the program before the request returns, so the program's end is
// written down before Windows is asked: recorder (null: none) is called with the exit code.
void SetRestartRecorder(std::function<void(int32_t exitCode)> recorder);
// Whether the last request started a restart.
bool RebootInitiated();

void EnableShutdownPrivilege(SetupContext* silentLog = nullptr);
void DisableShutdownPrivilege(SetupContext* silentLog = nullptr);
