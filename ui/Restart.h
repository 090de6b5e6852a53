#pragma once
// Restarting Windows into the update: a countdown, the shutdown privilege and the reboot request.
#include <cstdint>

class SetupThread;
class TarnwickDlg;

constexpr int RestartCountdownSeconds = 15;

// Marks a restart in progress for as long as a restart routine runs.
class Logoff {
  public:
    explicit Logoff(int32_t kind) : m_nKind(kind) {}
    virtual ~Logoff() = default;
    int32_t m_nKind; // 1: the session ends in a restart
};

// OK after a success: counts down in the dialog, ends it with IDOK and asks Windows to reboot.
void RestartWithCountdown(TarnwickDlg& dialog);
// The "r" switch: counts down through the worker's lines and asks Windows to reboot.
void RestartIfRequested(SetupThread& thread);

void EnableShutdownPrivilege();
void DisableShutdownPrivilege();
