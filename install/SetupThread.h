#pragma once
// The worker thread: runs the whole installation on WM_SETUP_START. It is the reporting context of
// every step it runs: each line goes to the dialog and to the installer log.
#include "framework/Thread.h"
#include "report/SetupContext.h"

// The last line of a check-only run whose checks have all passed.
constexpr wchar_t CheckOnlyPassed[] = L"The update can be installed on this machine.";

class SetupThread : public Thread, public SetupContext {
  public:
    SetupThread();

    // Waits at most milliseconds for the install sequence to end; true when it has ended.
    bool WaitForRunEnd(DWORD milliseconds) const;

    // The install sequence. lParam: the heap block with the dialog's window, owned from here on.
    virtual void OnStartInstall(WPARAM wParam, LPARAM lParam);

  protected:
    BOOL InitInstance() override { return TRUE; }
    const ThreadMessageEntry* GetMessageTable(size_t& count) const override;

  private:
    void RunSequence();

    unique_handle m_hRunEnded; // set when the sequence has ended
};
