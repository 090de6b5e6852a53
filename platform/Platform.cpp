#include "platform/Platform.h"

#include "platform/Owned.h"

#include <aclapi.h>

namespace {
Platform g_win32;
Platform* g_current = &g_win32;
} // namespace

Platform& CurrentPlatform() {
    return *g_current;
}

Platform* SetCurrentPlatform(Platform* platform) {
    Platform* previous = g_current;
    g_current = platform != nullptr ? platform : &g_win32;
    return previous;
}

void Platform::Pause(DWORD milliseconds) {
    ::Sleep(milliseconds);
}

DWORD Platform::ReadCurrentDirectory(DWORD size, wchar_t* buffer) {
    return ::GetCurrentDirectoryW(size, buffer);
}

BOOL Platform::ReadVersion(OSVERSIONINFOW* info) {
    return ::GetVersionExW(info);
}

BOOL Platform::IsTokenMember(PSID group, BOOL* isMember) {
    return ::CheckTokenMembership(nullptr, group, isMember);
}

BOOL Platform::ReadPowerStatus(SYSTEM_POWER_STATUS* status) {
    return ::GetSystemPowerStatus(status);
}

HRESULT Platform::CreateLocator(IWbemLocator** locator) {
    return ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              reinterpret_cast<void**>(locator));
}

DWORD Platform::WaitForProcess(HANDLE process, DWORD milliseconds) {
    return ::WaitForSingleObject(process, milliseconds);
}

BOOL Platform::StartProcess(const wchar_t* application, wchar_t* commandLine, DWORD flags,
                            const wchar_t* directory, STARTUPINFOW* startup, PROCESS_INFORMATION* started) {
    return ::CreateProcessW(application, commandLine, nullptr, nullptr, FALSE, flags, nullptr, directory,
                            startup, started);
}

BOOL Platform::WriteToFile(HANDLE file, const void* bytes, DWORD size, DWORD* written) {
    return ::WriteFile(file, bytes, size, written, nullptr);
}

HANDLE Platform::CreateReadOnlyMapping(HANDLE file) {
    return ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
}

const void* Platform::MapReadOnlyView(HANDLE mapping) {
    return ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
}

BOOL Platform::ReadFileInformation(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
    return ::GetFileInformationByHandle(file, information);
}

BOOL Platform::OpenOwnProcessToken(DWORD access, HANDLE* token) {
    return ::OpenProcessToken(::GetCurrentProcess(), access, token);
}

DWORD Platform::AdjustPrivileges(HANDLE token, TOKEN_PRIVILEGES* privileges) {
    ::AdjustTokenPrivileges(token, FALSE, privileges, 0, nullptr, nullptr);
    return ::GetLastError();
}

BOOL Platform::RequestReboot(UINT flags, DWORD reason) {
    return ::ExitWindowsEx(flags, reason);
}

bool Platform::IsInteractiveSession() {
    USEROBJECTFLAGS flags = {};
    HWINSTA station = ::GetProcessWindowStation();
    if (station == nullptr ||
        !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) ||
        !(flags.dwFlags & WSF_VISIBLE))
        return false;
    // The local system account: in session 0 under a deployment engine, never an interactive user.
    std::vector<BYTE> user = ProcessUserSid();
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    unique_sid system;
    if (user.empty() || !::AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0,
                                                    0, 0, system.put()))
        return true;
    return !::EqualSid(user.data(), system.get());
}

BOOL Platform::InitiateRestart(DWORD reason) {
    using InitiateSystemShutdownExFn = BOOL(WINAPI*)(LPWSTR, LPWSTR, DWORD, BOOL, BOOL, DWORD);
    auto initiateEx = reinterpret_cast<InitiateSystemShutdownExFn>(
        ::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), "InitiateSystemShutdownExW"));
    if (initiateEx != nullptr)
        return initiateEx(nullptr, nullptr, 0, FALSE, TRUE, reason);
    return ::InitiateSystemShutdownW(nullptr, nullptr, 0, FALSE, TRUE); // Windows 2000: no reasons
}

int Platform::ShowMessageBox(const wchar_t* text, const wchar_t* caption, UINT type) {
    return ::MessageBoxW(nullptr, text, caption, type);
}

DWORD Platform::ReadSecurity(HANDLE object, PSECURITY_DESCRIPTOR* descriptor) {
    return ::GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, nullptr, nullptr, descriptor);
}

bool Platform::SearchSystemFolderOnly() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories"));
    return setDefaultDllDirectories != nullptr &&
           setDefaultDllDirectories(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
}

HMODULE Platform::LoadDllByPath(const std::wstring& path) {
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {
template <typename Function> Function Kernel32Function(const char* name) {
    return reinterpret_cast<Function>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name));
}

// Calls use(boundary) with a boundary descriptor that holds the Administrators group, and keeps the
// last error that use left. The functions are Windows Vista's.
template <typename Use> HANDLE WithAdministratorsBoundary(Use use) {
    using CreateBoundaryFn = HANDLE(WINAPI*)(LPCWSTR, ULONG);
    using AddSidFn = BOOL(WINAPI*)(HANDLE*, PSID);
    using DeleteBoundaryFn = VOID(WINAPI*)(HANDLE);
    const auto createBoundary = Kernel32Function<CreateBoundaryFn>("CreateBoundaryDescriptorW");
    const auto addSid = Kernel32Function<AddSidFn>("AddSIDToBoundaryDescriptor");
    const auto deleteBoundary = Kernel32Function<DeleteBoundaryFn>("DeleteBoundaryDescriptor");
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    unique_sid administrators;
    if (createBoundary == nullptr || addSid == nullptr || deleteBoundary == nullptr) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                    0, 0, 0, 0, 0, administrators.put()))
        return nullptr;
    ::SetLastError(0);
    HANDLE boundary = createBoundary(L"Tarnwick", 0);
    if (boundary == nullptr) {
        if (::GetLastError() == 0)
            ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED); // a stub that says nothing
        return nullptr;
    }
    HANDLE result = addSid(&boundary, administrators.get()) ? use(boundary) : nullptr;
    const DWORD error = ::GetLastError();
    deleteBoundary(boundary);
    ::SetLastError(error);
    return result;
}
} // namespace

HANDLE Platform::CreateAdministratorsNamespace(SECURITY_ATTRIBUTES* attributes, const wchar_t* prefix) {
    using CreateNamespaceFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
    const auto create = Kernel32Function<CreateNamespaceFn>("CreatePrivateNamespaceW");
    if (create == nullptr) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    return WithAdministratorsBoundary([&](HANDLE boundary) { return create(attributes, boundary, prefix); });
}

HANDLE Platform::OpenAdministratorsNamespace(const wchar_t* prefix) {
    using OpenNamespaceFn = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
    const auto open = Kernel32Function<OpenNamespaceFn>("OpenPrivateNamespaceW");
    if (open == nullptr) {
        ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    return WithAdministratorsBoundary([&](HANDLE boundary) { return open(boundary, prefix); });
}

void Platform::ClosePrivateNamespace(HANDLE space) {
    using CloseNamespaceFn = BOOLEAN(WINAPI*)(HANDLE, ULONG);
    if (const auto close = Kernel32Function<CloseNamespaceFn>("ClosePrivateNamespace"))
        close(space, 0); // the namespace stays while another run has it open
}

HANDLE Platform::CreateNamedMutex(SECURITY_ATTRIBUTES* attributes, const wchar_t* name) {
    return ::CreateMutexW(attributes, FALSE, name);
}

DWORD Platform::TryTakeMutex(HANDLE mutex) {
    return ::WaitForSingleObject(mutex, 0);
}

BOOL Platform::WriteEvent(const wchar_t* source, WORD type, DWORD messageId, WORD count,
                          const wchar_t** strings) {
    HANDLE log = ::RegisterEventSourceW(nullptr, source);
    if (log == nullptr)
        return FALSE;
    const BOOL written = ::ReportEventW(log, type, 0, messageId, nullptr, count, 0, strings, nullptr);
    const DWORD error = ::GetLastError();
    ::DeregisterEventSource(log);
    ::SetLastError(error);
    return written;
}

std::wstring ApplicationName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, length < MAX_PATH ? length : 0);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos)
        name.erase(dot);
    return name;
}

OSVERSIONINFOW ReadWindowsVersion() {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info; // 276 bytes; a failed call leaves version 0.0
    CurrentPlatform().ReadVersion(&info);
    return info;
}

std::vector<BYTE> ProcessUserSid() {
    unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        token.release(); // whatever a failed call left there is no handle
        return {};
    }
    BYTE buffer[128];
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size))
        return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
}
