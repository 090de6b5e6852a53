// The run lock: its namespace and its Global\ name, the DACL it is made with, and how it reads a
// lock that another run holds, that someone else has made, or that a dead run left.
#include "TestSupport.h"
#include "platform/RunLock.h"

namespace {
const std::wstring AdministratorsOnly = L"D:P(A;;GA;;;SY)(A;;GA;;;BA) inherit 0";

struct Holder {
    HANDLE taken, release;
    RunLock::State state;
};

// Takes the lock on a thread of its own and holds it until release is set.
DWORD WINAPI HoldLock(void* parameter) {
    auto* holder = static_cast<Holder*>(parameter);
    RunLock lock;
    holder->state = lock.Status();
    SetEvent(holder->taken);
    WaitForSingleObject(holder->release, 10000);
    return 0;
}

struct Taken {
    RunLock::State state;
    DWORD error;
    std::wstring name;
    Lines events;
};

Taken Take(FakePlatform& platform) {
    Taken taken;
    {
        RunLock lock;
        taken = {lock.Status(), lock.Error(), lock.Name() != nullptr ? lock.Name() : L"", {}};
    }
    taken.events = platform.Events();
    return taken;
}
} // namespace

TEST(RunLock, WithoutANamespaceTakesTheGlobalNameForSystemAndAdministratorsAlone) {
    FakePlatform platform; // Windows 2000 and XP have no private namespace; Wine's is a stub
    const Taken taken = Take(platform);
    EXPECT_EQ(taken.state, RunLock::State::Held);
    EXPECT_EQ(taken.name, L"Global\\TarnwickRunLock");
    EXPECT_EQ(taken.events,
              (Lines{L"CreateNamespace Tarnwick " + AdministratorsOnly,
                     L"CreateMutex Global\\TarnwickRunLock " + AdministratorsOnly, L"TakeMutex"}));
}

TEST(RunLock, OnVistaAndLaterLivesInTheAdministratorsNamespaceMadeOrOpened) {
    {
        FakePlatform platform;
        platform.createNamespaceError = 0;
        const Taken taken = Take(platform);
        EXPECT_EQ(taken.state, RunLock::State::Held);
        EXPECT_EQ(taken.events, (Lines{L"CreateNamespace Tarnwick " + AdministratorsOnly,
                                       L"CreateMutex Tarnwick\\RunLock " + AdministratorsOnly, L"TakeMutex",
                                       L"CloseNamespace"}));
    }
    FakePlatform platform; // another run made the namespace
    platform.createNamespaceError = ERROR_ALREADY_EXISTS;
    const Taken taken = Take(platform);
    EXPECT_EQ(taken.state, RunLock::State::Held);
    EXPECT_EQ(
        taken.events,
        (Lines{L"CreateNamespace Tarnwick " + AdministratorsOnly, L"OpenNamespace Tarnwick",
               L"CreateMutex Tarnwick\\RunLock " + AdministratorsOnly, L"TakeMutex", L"CloseNamespace"}));
}

TEST(RunLock, ALockThatExistsButCannotBeOpenedCountsAsAnotherRun) {
    {
        FakePlatform platform; // a namespace of that name and boundary that is not ours to open
        platform.createNamespaceError = ERROR_ALREADY_EXISTS;
        platform.openNamespaceError = ERROR_ACCESS_DENIED;
        const Taken taken = Take(platform);
        EXPECT_EQ(taken.state, RunLock::State::Busy);
        EXPECT_EQ(taken.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(taken.events.size(), 2u) << "no mutex is asked for";
    }
    // A mutex with a DACL that shuts this run out, or another kind of object under its name.
    for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}) {
        FakePlatform platform;
        platform.createMutexError = error;
        const Taken taken = Take(platform);
        EXPECT_EQ(taken.state, RunLock::State::Busy);
        EXPECT_EQ(taken.error, error);
    }
}

TEST(RunLock, TakingItTellsHeldAbandonedAndBusy) {
    const struct {
        DWORD wait;
        RunLock::State state;
        DWORD error;
    } cases[] = {
        {WAIT_ABANDONED, RunLock::State::Abandoned, 0}, // the run before died holding it: go on
        {WAIT_TIMEOUT, RunLock::State::Busy, 0},
        {WAIT_FAILED, RunLock::State::Busy, ERROR_INVALID_HANDLE},
    };
    for (const auto& c : cases) {
        FakePlatform platform;
        platform.takeMutexResult = c.wait;
        const Taken taken = Take(platform);
        EXPECT_EQ(taken.state, c.state) << c.wait;
        EXPECT_EQ(taken.error, c.error) << c.wait;
    }
}

// Wine's own mutexes: a lock that another thread holds is busy, and free again once it is given back.
TEST(RunLock, UnderWineTheGlobalMutexKeepsASecondRunOutUntilTheFirstEnds) {
    HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr),
           release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Holder handles = {taken, release, RunLock::State::Busy};
    HANDLE first = CreateThread(nullptr, 0, HoldLock, &handles, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(taken, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(handles.state, RunLock::State::Held);
    {
        RunLock second;
        EXPECT_EQ(second.Status(), RunLock::State::Busy);
        EXPECT_EQ(second.Error(), 0u);
        EXPECT_STREQ(second.Name(), L"Global\\TarnwickRunLock");
    }
    SetEvent(release);
    WaitForSingleObject(first, 10000);
    {
        RunLock third;
        EXPECT_EQ(third.Status(), RunLock::State::Held);
    }
    for (HANDLE handle : {first, taken, release})
        CloseHandle(handle);
}
