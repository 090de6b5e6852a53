#pragma once
// A thread with its own message loop and a table that maps thread messages to handlers.
#include "platform/Owned.h"

#include <windows.h>

#include <cstddef>

class Thread;

using ThreadHandler = void (Thread::*)(WPARAM, LPARAM);

struct ThreadMessageEntry {
    UINT message;
    ThreadHandler handler;
};

#define THREAD_MESSAGE(message, handler)                                                                     \
    { message, static_cast<ThreadHandler>(handler) }

class Thread {
  public:
    Thread() = default;
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the thread at normal priority with the default stack and returns once it can receive
    // thread messages. False when it could not be started; GetLastError tells why.
    bool CreateThread();

    DWORD GetThreadId() const { return m_nThreadId; }
    BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) const;

  protected:
    // TRUE enters the message loop; FALSE ends the thread at once.
    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }
    virtual const ThreadMessageEntry* GetMessageTable(size_t& count) const;

    // The object deletes itself when its thread ends.
    bool m_bAutoDelete = true;

  private:
    static unsigned __stdcall Start(void* self);
    int Run();

    unique_handle m_hThread;
    HANDLE m_hReady = nullptr; // lent to the starting thread while CreateThread waits
    DWORD m_nThreadId = 0;
};
