#pragma once
// Restarting Windows into the update: the countdown, the shutdown privilege and the reboot request.
#include <cstdint>
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

// The "r" switch: counts down through the context's lines and asks Windows to reboot.
void RestartIfRequested(SetupContext& context);

// The countdown's detail line for the seconds left.
std::wstring CountdownLine(int seconds);
// Enables the shutdown privilege, asks Windows to reboot, and disables the privilege again.
void RequestReboot();

void EnableShutdownPrivilege();
void DisableShutdownPrivilege();
