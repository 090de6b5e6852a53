#include "TestSupport.h"

#include "FakeWmi.h"
#include "install/SetupThread.h"
#include "platform/WorkingDirectory.h"
#include "report/Messages.h"
#include "report/SetupException.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <cstdlib>
#include <new>

std::atomic<long> g_liveAllocations{0};

void* operator new(size_t size) {
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr)
        throw std::bad_alloc();
    ++g_liveAllocations;
    return p;
}
void* operator new[](size_t size) {
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    void* p = std::malloc(size != 0 ? size : 1);
    if (p != nullptr)
        ++g_liveAllocations;
    return p;
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    if (p != nullptr) {
        --g_liveAllocations;
        std::free(p);
    }
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, size_t) noexcept {
    operator delete(p);
}

void FakePlatform::Record(std::wstring event) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_events.push_back(std::move(event));
}

std::vector<std::wstring> FakePlatform::Events() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_events;
}

std::vector<DWORD> FakePlatform::Pauses() {
    std::vector<DWORD> pauses;
    for (const std::wstring& event : Events())
        if (event.rfind(L"Pause ", 0) == 0)
            pauses.push_back(std::wcstoul(event.c_str() + 6, nullptr, 10));
    return pauses;
}

void FakePlatform::Pause(DWORD milliseconds) {
    Record(L"Pause " + std::to_wstring(milliseconds));
    if (onPause)
        onPause(milliseconds);
}

DWORD FakePlatform::ReadCurrentDirectory(DWORD size, wchar_t* buffer) {
    if (failCurrentDirectory)
        return 0;
    if (currentDirectory.empty())
        return Platform::ReadCurrentDirectory(size, buffer);
    if (size <= currentDirectory.size())
        return static_cast<DWORD>(currentDirectory.size() + 1);
    wcscpy(buffer, currentDirectory.c_str());
    return static_cast<DWORD>(currentDirectory.size());
}

BOOL FakePlatform::ReadVersion(OSVERSIONINFOW* info) {
    if (!versionResult)
        return FALSE;
    info->dwMajorVersion = major;
    info->dwMinorVersion = minor;
    return TRUE;
}

BOOL FakePlatform::IsTokenMember(PSID group, BOOL* isMember) {
    Record(L"IsTokenMember " + std::to_wstring(*GetSidSubAuthority(group, 0)) + L" " +
           std::to_wstring(*GetSidSubAuthority(group, 1)));
    *isMember = tokenMember;
    return tokenResult;
}

BOOL FakePlatform::ReadPowerStatus(SYSTEM_POWER_STATUS* status) {
    if (!powerResult)
        return FALSE;
    status->ACLineStatus = acLineStatus;
    return TRUE;
}

HRESULT FakePlatform::CreateLocator(IWbemLocator** locator) {
    return fakewmi::CreateLocator(locator);
}

DWORD FakePlatform::WaitForProcess(HANDLE process, DWORD milliseconds) {
    Record(L"Wait " + std::to_wstring(milliseconds));
    return fakeWait ? waitResult : Platform::WaitForProcess(process, milliseconds);
}

BOOL FakePlatform::StartProcess(const wchar_t* application, wchar_t* commandLine, DWORD flags,
                                const wchar_t* directory, STARTUPINFOW* startup,
                                PROCESS_INFORMATION* started) {
    starts.emplace_back(flags, directory != nullptr ? directory : L"(none)");
    if (refuseExtendedStart != 0 && (flags & EXTENDED_STARTUPINFO_PRESENT) != 0) {
        SetLastError(refuseExtendedStart);
        return FALSE;
    }
    return Platform::StartProcess(application, commandLine, flags, directory, startup, started);
}

BOOL FakePlatform::WriteToFile(HANDLE file, const void* bytes, DWORD size, DWORD* written) {
    if (onWrite)
        onWrite();
    if (++m_writes == failWriteOfCall) {
        SetLastError(writeError);
        return FALSE;
    }
    return Platform::WriteToFile(file, bytes, size, written);
}

BOOL FakePlatform::ReadFileInformation(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
    const BOOL read = Platform::ReadFileInformation(file, information);
    if (read)
        information->dwFileAttributes |= addedFileAttributes;
    return read;
}

DWORD FakePlatform::ReadSecurity(HANDLE object, PSECURITY_DESCRIPTOR* descriptor) {
    if (securitySddl.empty())
        return Platform::ReadSecurity(object, descriptor);
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(securitySddl.c_str(), SDDL_REVISION_1,
                                                                descriptor, nullptr)
               ? ERROR_SUCCESS
               : GetLastError();
}

bool FakePlatform::SearchSystemFolderOnly() {
    Record(L"SearchSystemFolderOnly");
    return systemFolderSearch;
}

HMODULE FakePlatform::LoadDllByPath(const std::wstring& path) {
    Record(L"LoadDll " + path);
    return fakeDllLoads ? nullptr : Platform::LoadDllByPath(path);
}

BOOL FakePlatform::OpenOwnProcessToken(DWORD access, HANDLE* token) {
    Record(L"OpenToken " + std::to_wstring(access));
    if (!openTokenResult)
        return FALSE;
    return Platform::OpenOwnProcessToken(access, token);
}

DWORD FakePlatform::AdjustPrivileges(HANDLE token, TOKEN_PRIVILEGES* privileges) {
    LUID shutdown = {};
    LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &shutdown);
    const bool isShutdown = privileges->PrivilegeCount == 1 &&
                            privileges->Privileges[0].Luid.LowPart == shutdown.LowPart &&
                            privileges->Privileges[0].Luid.HighPart == shutdown.HighPart;
    Record(std::wstring(L"Adjust ") + (isShutdown ? L"shutdown " : L"other ") +
           std::to_wstring(privileges->Privileges[0].Attributes) + (token == nullptr ? L" no-token" : L""));
    return token == nullptr ? ERROR_INVALID_HANDLE : adjustError;
}

BOOL FakePlatform::RequestReboot(UINT flags, DWORD reason) {
    Record(L"Reboot " + std::to_wstring(flags) + L" " + std::to_wstring(reason));
    if (onReboot)
        onReboot();
    SetLastError(rebootResult ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
    return rebootResult;
}

BOOL FakePlatform::InitiateRestart(DWORD reason) {
    Record(L"InitiateRestart " + std::to_wstring(reason));
    SetLastError(rebootResult ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
    return rebootResult;
}

int FakePlatform::ShowMessageBox(const wchar_t* text, const wchar_t* caption, UINT type) {
    Record(std::wstring(L"MessageBox ") + text + L"|" + caption + L"|" + std::to_wstring(type));
    return IDOK;
}

namespace {
// "D:P(A;;GA;;;SY)..." and whether a child would inherit the handle.
std::wstring Describe(const SECURITY_ATTRIBUTES* attributes) {
    if (attributes == nullptr || attributes->lpSecurityDescriptor == nullptr)
        return L"default";
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(attributes->lpSecurityDescriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    std::wstring description = std::wstring(text != nullptr ? text : L"?") + L" inherit " +
                               std::to_wstring(attributes->bInheritHandle);
    LocalFree(text);
    return description;
}
HANDLE const FakeNamespace = reinterpret_cast<HANDLE>(0x4e53);
} // namespace

HANDLE FakePlatform::CreateAdministratorsNamespace(SECURITY_ATTRIBUTES* attributes, const wchar_t* prefix) {
    Record(std::wstring(L"CreateNamespace ") + prefix + L" " + Describe(attributes));
    SetLastError(createNamespaceError);
    return createNamespaceError == 0 ? FakeNamespace : nullptr;
}

HANDLE FakePlatform::OpenAdministratorsNamespace(const wchar_t* prefix) {
    Record(std::wstring(L"OpenNamespace ") + prefix);
    SetLastError(openNamespaceError);
    return openNamespaceError == 0 ? FakeNamespace : nullptr;
}

void FakePlatform::ClosePrivateNamespace(HANDLE space) {
    Record(space == FakeNamespace ? L"CloseNamespace" : L"CloseNamespace of another handle");
}

HANDLE FakePlatform::CreateNamedMutex(SECURITY_ATTRIBUTES* attributes, const wchar_t* name) {
    Record(std::wstring(L"CreateMutex ") + name + L" " + Describe(attributes));
    if (createMutexError != 0) {
        SetLastError(createMutexError);
        return nullptr;
    }
    return CreateMutexW(nullptr, FALSE, nullptr);
}

DWORD FakePlatform::TryTakeMutex(HANDLE mutex) {
    Record(L"TakeMutex");
    if (takeMutexResult == WAIT_FAILED)
        SetLastError(ERROR_INVALID_HANDLE);
    return takeMutexResult == WAIT_OBJECT_0 || takeMutexResult == WAIT_ABANDONED
               ? Platform::TryTakeMutex(mutex) == WAIT_OBJECT_0 ? takeMutexResult : WAIT_FAILED
               : takeMutexResult;
}

HRESULT FakePlatform::RegisterTaskXml(const wchar_t* name, const wchar_t* xml) {
    Record(std::wstring(L"TaskXml ") + name);
    taskXml = xml;
    return taskResult;
}

HRESULT FakePlatform::RegisterStartupTaskV1(const wchar_t* name, const wchar_t* program,
                                            const wchar_t* arguments, DWORD maxRunMilliseconds) {
    Record(std::wstring(L"TaskV1 ") + name + L"|" + program + L"|" + arguments + L"|" +
           std::to_wstring(maxRunMilliseconds));
    return taskResult;
}

namespace {
std::wstring VersionName(TaskSchedulerVersion version) {
    return version == TaskSchedulerVersion::V1 ? L"1 " : L"2 ";
}
} // namespace

HRESULT FakePlatform::FindTask(TaskSchedulerVersion version, const wchar_t* name) {
    Record(L"FindTask " + VersionName(version) + name);
    return taskResult;
}

HRESULT FakePlatform::RemoveTask(TaskSchedulerVersion version, const wchar_t* name) {
    Record(L"RemoveTask " + VersionName(version) + name);
    return taskResult;
}

BOOL FakePlatform::WriteEvent(const wchar_t* source, WORD type, DWORD messageId, WORD count,
                              const wchar_t** strings) {
    std::wstring event =
        std::wstring(L"Event ") + source + L" " + std::to_wstring(type) + L" " + std::to_wstring(messageId);
    for (WORD i = 0; i < count; ++i)
        event += std::wstring(L"|") + strings[i];
    Record(event);
    if (!eventResult)
        SetLastError(ERROR_ACCESS_DENIED);
    return eventResult;
}

ScratchDirectory::ScratchDirectory() {
    static int counter = 0;
    wchar_t temp[MAX_PATH], previous[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetCurrentDirectoryW(MAX_PATH, previous);
    m_previous = previous;
    m_path = std::wstring(temp) + L"tarnwick-unit-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter);
    CreateDirectoryW(m_path.c_str(), nullptr);
    SetCurrentDirectoryW(m_path.c_str());
}

ScratchDirectory::~ScratchDirectory() {
    SetCurrentDirectoryW(m_previous.c_str());
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((m_path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring path = m_path + L"\\" + found.cFileName;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(path.c_str());
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(m_path.c_str());
}

MessageSink::MessageSink() {
    static const wchar_t className[] = L"TarnwickTestSink";
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    m_hwnd =
        CreateWindowW(className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), this);
    SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageSink::~MessageSink() {
    Collect(); // frees whatever is still queued
    DestroyWindow(m_hwnd);
}

std::vector<std::wstring> MessageSink::Collect() {
    MSG msg;
    while (PeekMessageW(&msg, m_hwnd, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    return m_lines;
}

LRESULT CALLBACK MessageSink::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* sink = reinterpret_cast<MessageSink*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (sink != nullptr) {
        switch (message) {
        case WM_SETUP_STATUS:
        case WM_SETUP_DETAIL: {
            // Taken as the dialog takes them: only what the worker registered.
            const std::unique_ptr<std::wstring> line = TakeRecord<std::wstring>(lParam);
            sink->m_lines.push_back(!line ? L"? not registered"
                                          : (message == WM_SETUP_STATUS ? L"S " : L"D ") + *line);
            return 0;
        }
        case WM_SETUP_FAILED: {
            const std::unique_ptr<SetupException> failure = TakeRecord<SetupException>(lParam);
            sink->m_lines.push_back(!failure
                                        ? L"? not registered"
                                        : L"F " + std::to_wstring(failure->Code) + L" " +
                                              std::to_wstring(failure->IsError) + L" " + failure->Message);
            return 0;
        }
        case WM_SETUP_SUCCEEDED:
            sink->m_lines.push_back(TakeSucceeded() ? L"OK" : L"? not registered");
            return 0;
        case WM_SETUP_CANCELLED:
            sink->m_lines.push_back(TakeCancelled() ? L"Cancelled" : L"? not registered");
            return 0;
        }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void ScratchTest::SetUp() {
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", nullptr);
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", directory.File(L"record.txt").c_str());
}

void ScratchTest::TearDown() {
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", nullptr);
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", nullptr);
}

SequenceRun RunSequence(bool silent, bool reboot) {
    MessageSink sink;
    SetupThread worker;
    worker.m_bSilent = silent;
    worker.m_bReboot = reboot;
    worker.OnStartInstall(0, reinterpret_cast<LPARAM>(new HWND(sink.Window())));
    return {sink.Collect(), ReadBytes(CombinePath(GetWorkingDirectory(), LogFileName))};
}

StepOutcome RunStep(SetupThread& worker, void (*step)(SetupContext&)) {
    MessageSink sink;
    worker.m_hDialog = sink.Window();
    StepOutcome outcome;
    try {
        step(worker);
    } catch (const SetupException& e) {
        outcome.failure = std::to_wstring(e.Code) + L" " + std::to_wstring(e.IsError) + L" " + e.Message;
    }
    outcome.posted = sink.Collect();
    worker.m_hDialog = nullptr;
    return outcome;
}

Lines RestartEvents(bool linePauses) {
    Lines events;
    if (linePauses)
        events.push_back(L"Pause 800");
    for (int n = 0; n < 15; ++n) {
        if (linePauses)
            events.push_back(L"Pause 800");
        events.push_back(L"Pause 1000");
    }
    events.insert(events.end(), {L"OpenToken 40", L"Adjust shutdown 2", L"Reboot 2 2147680258",
                                 L"OpenToken 40", L"Adjust shutdown 0"});
    return events;
}

void UseScenario(const std::wstring& text) {
    std::wstring error;
    ASSERT_TRUE(fakewmi::LoadScenario(text, &error)) << std::string(error.begin(), error.end());
}
