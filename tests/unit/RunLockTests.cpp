// The run lock: its namespace or Global\ name, the DACL it is made with, and how it reads a lock
// that another run holds, that someone else has made, or that a dead run left. Wine's namespaces
// are stubs and its mutexes keep no DACL: the fake platform stands in (the system tests take the
// real Global\ mutex).
#include "TestSupport.h"
#include "platform/RunLock.h"

TEST(RunLock, TakesItsNamespaceOrGlobalNameAndTellsWhoHoldsIt) {
    const DWORD none = ERROR_CALL_NOT_IMPLEMENTED, exists = ERROR_ALREADY_EXISTS,
                denied = ERROR_ACCESS_DENIED;
    using State = RunLock::State;
    const struct {
        const char* what;
        DWORD createNamespace, openNamespace, createMutex, take; // what the platform answers
        State state;
        DWORD error;
        const wchar_t* events;
    } cases[] = {
        {"Windows 2000, XP, Wine", none, 0, 0, WAIT_OBJECT_0, State::Held, 0,
         L"CreateNamespace Tarnwick|CreateMutex Global\\TarnwickRunLock|TakeMutex"},
        {"Vista and later", 0, 0, 0, WAIT_OBJECT_0, State::Held, 0,
         L"CreateNamespace Tarnwick|CreateMutex Tarnwick\\RunLock|TakeMutex|CloseNamespace"},
        {"another run's namespace", exists, 0, 0, WAIT_OBJECT_0, State::Held, 0,
         L"CreateNamespace Tarnwick|OpenNamespace Tarnwick|CreateMutex "
         L"Tarnwick\\RunLock|TakeMutex|CloseNamespace"},
        {"a namespace not ours to open", exists, denied, 0, WAIT_OBJECT_0, State::Busy, denied,
         L"CreateNamespace Tarnwick|OpenNamespace Tarnwick"},
        {"a mutex not ours to open", none, 0, denied, WAIT_OBJECT_0, State::Busy, denied,
         L"CreateNamespace Tarnwick|CreateMutex Global\\TarnwickRunLock"},
        {"another kind of object under its name", none, 0, ERROR_INVALID_HANDLE, WAIT_OBJECT_0, State::Busy,
         ERROR_INVALID_HANDLE, L"CreateNamespace Tarnwick|CreateMutex Global\\TarnwickRunLock"},
        {"another run holds it", 0, 0, 0, WAIT_TIMEOUT, State::Busy, 0,
         L"CreateNamespace Tarnwick|CreateMutex Tarnwick\\RunLock|TakeMutex|CloseNamespace"},
        {"the run before died holding it", 0, 0, 0, WAIT_ABANDONED, State::Abandoned, 0,
         L"CreateNamespace Tarnwick|CreateMutex Tarnwick\\RunLock|TakeMutex|CloseNamespace"},
        {"the wait fails", none, 0, 0, WAIT_FAILED, State::Busy, ERROR_INVALID_HANDLE,
         L"CreateNamespace Tarnwick|CreateMutex Global\\TarnwickRunLock|TakeMutex"},
    };
    const std::wstring dacl = L" D:P(A;;GA;;;SY)(A;;GA;;;BA) inherit 0";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakePlatform platform;
        platform.createNamespaceError = c.createNamespace;
        platform.openNamespaceError = c.openNamespace;
        platform.createMutexError = c.createMutex;
        platform.takeMutexResult = c.take;
        {
            const RunLock lock;
            EXPECT_EQ(lock.Status(), c.state);
            EXPECT_EQ(lock.Error(), c.error);
        }
        std::wstring events;
        for (std::wstring event : platform.Events()) {
            if (event.rfind(L"Create", 0) == 0) { // made for SYSTEM and Administrators alone
                EXPECT_EQ(event.substr(event.size() - std::min(event.size(), dacl.size())), dacl);
                event.erase(event.size() - std::min(event.size(), dacl.size()));
            }
            events += (events.empty() ? L"" : L"|") + event;
        }
        EXPECT_EQ(events, c.events);
    }
}
