#pragma once
// A lock for data that two threads share. The shipped program has no std::mutex (its thread
// model is win32's own).
#include <windows.h>

class Lock {
  public:
    Lock() { InitializeCriticalSection(&m_section); }
    ~Lock() { DeleteCriticalSection(&m_section); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Enter() { EnterCriticalSection(&m_section); }
    void Leave() { LeaveCriticalSection(&m_section); }

  private:
    CRITICAL_SECTION m_section;
};

// Holds a lock for its lifetime.
class Hold {
  public:
    explicit Hold(Lock& lock) : m_lock(lock) { m_lock.Enter(); }
    ~Hold() { m_lock.Leave(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

  private:
    Lock& m_lock;
};
