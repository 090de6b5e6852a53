#pragma once
// One run at a time per machine: a named mutex that a run holds from before it touches its working
// folder, the record or the history log until it ends. On Windows Vista and later the mutex lives
// in a private namespace bound to the Administrators group, so that no standard user can make or
// hold it first; where there is no such namespace (Windows 2000 and XP) or it cannot be made
// (Wine's are stubs), it is a Global\ name. Both carry a DACL for SYSTEM and Administrators alone.
#include "platform/Owned.h"

#include <windows.h>

class RunLock {
  public:
    enum class State {
        Held,      // this run holds it
        Abandoned, // this run holds it; the run before it ended without releasing it (killed, crashed)
        Busy,      // another run holds it, or it exists and cannot be opened: this run must do nothing
    };

    RunLock();
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    State Status() const { return m_state; }
    // Busy: 0 when another run holds the lock, else the Windows error that kept this run from it.
    DWORD Error() const { return m_error; }
    // The mutex's name: in the namespace, or the Global\ one; null when it was never asked for.
    const wchar_t* Name() const { return m_name; }

  private:
    HANDLE m_namespace = nullptr;
    unique_handle m_mutex;
    const wchar_t* m_name = nullptr;
    State m_state = State::Busy;
    DWORD m_error = 0;
};
