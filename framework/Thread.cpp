#include "framework/Thread.h"

#include <process.h>

Thread::~Thread() = default;

const ThreadMessageEntry* Thread::GetMessageTable(size_t& count) const {
    count = 0;
    return nullptr;
}

bool Thread::CreateThread() {
    const unique_handle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready)
        return false;
    m_hReady = ready.get();
    unsigned threadId = 0;
    // Suspended until the object knows its thread: once running, the thread may end and delete it.
    HANDLE thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Start, this, CREATE_SUSPENDED, &threadId));
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        m_hReady = nullptr;
        SetLastError(error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    m_hThread.reset(thread);
    m_nThreadId = threadId;
    ResumeThread(thread);
    // The thread signals once its message queue exists.
    HANDLE waits[] = {ready.get(), thread};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    return true;
}

BOOL Thread::PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostThreadMessageW(m_nThreadId, message, wParam, lParam);
}

unsigned __stdcall Thread::Start(void* self) {
    auto* thread = static_cast<Thread*>(self);
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // creates the message queue
    SetEvent(thread->m_hReady);
    const int code = thread->Run();
    if (thread->m_bAutoDelete)
        delete thread;
    return static_cast<unsigned>(code);
}

int Thread::Run() {
    if (InitInstance()) {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.hwnd != nullptr) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
                continue;
            }
            size_t count = 0;
            const ThreadMessageEntry* table = GetMessageTable(count);
            for (size_t i = 0; i < count; ++i) {
                if (table[i].message == msg.message) {
                    (this->*table[i].handler)(msg.wParam, msg.lParam);
                    break;
                }
            }
        }
    }
    return ExitInstance();
}
