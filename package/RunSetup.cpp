#include "package/RunSetup.h"

#include "package/PackageFolder.h"
#include "platform/Owned.h"
#include "platform/Platform.h"
#include "platform/WorkingDirectory.h"
#include "report/SetupContext.h"
#include "report/SetupException.h"

#include <cwchar>
#include <memory>
#include <new>

namespace {
// The request that a new process load its DLLs from System32 before its own folder (Windows 10 and
// later), so that a DLL planted beside the installer does not load into it. Named here because the
// headers show them only to programs built for Vista and later.
constexpr DWORD_PTR MitigationPolicyAttribute = 0x00020007; // PROC_THREAD_ATTRIBUTE_MITIGATION_POLICY
constexpr DWORD64 PreferSystem32Always = 1ULL << 60;        // ..._IMAGE_LOAD_PREFER_SYSTEM32_ALWAYS_ON

struct StartupInfoEx { // STARTUPINFOEXW
    STARTUPINFOW StartupInfo;
    void* lpAttributeList;
};

// The attribute list that carries the request; List() is null where Windows has no such lists
// (before Vista) or cannot make this one.
class PreferSystem32Attributes {
  public:
    PreferSystem32Attributes() {
        using InitializeFn = BOOL(WINAPI*)(void*, DWORD, DWORD, SIZE_T*);
        using UpdateFn = BOOL(WINAPI*)(void*, DWORD, DWORD_PTR, void*, SIZE_T, void*, SIZE_T*);
        HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
        const auto initialize =
            reinterpret_cast<InitializeFn>(GetProcAddress(kernel32, "InitializeProcThreadAttributeList"));
        const auto update = reinterpret_cast<UpdateFn>(GetProcAddress(kernel32, "UpdateProcThreadAttribute"));
        m_delete = reinterpret_cast<DeleteFn>(GetProcAddress(kernel32, "DeleteProcThreadAttributeList"));
        if (initialize == nullptr || update == nullptr || m_delete == nullptr)
            return;
        SIZE_T size = 0;
        initialize(nullptr, 1, 0, &size);
        m_storage.reset(new (std::nothrow) BYTE[size]);
        if (size == 0 || m_storage == nullptr || !initialize(m_storage.get(), 1, 0, &size)) {
            m_storage.reset();
            return;
        }
        m_ready = update(m_storage.get(), 0, MitigationPolicyAttribute, &m_policy, sizeof m_policy, nullptr,
                         nullptr) != FALSE;
    }
    ~PreferSystem32Attributes() {
        if (m_storage != nullptr)
            m_delete(m_storage.get());
    }
    PreferSystem32Attributes(const PreferSystem32Attributes&) = delete;
    PreferSystem32Attributes& operator=(const PreferSystem32Attributes&) = delete;

    void* List() const { return m_ready ? m_storage.get() : nullptr; }

  private:
    using DeleteFn = void(WINAPI*)(void*);
    DeleteFn m_delete = nullptr;
    std::unique_ptr<BYTE[]> m_storage;
    DWORD64 m_policy = PreferSystem32Always;
    bool m_ready = false;
};

// CreateProcessW with the System32 request where Windows takes it, else without. A Windows that
// knows attribute lists but not this policy refuses it with ERROR_INVALID_PARAMETER or
// ERROR_NOT_SUPPORTED; the version the program is told cannot say beforehand.
BOOL StartPreferringSystem32(const std::wstring& program, const std::wstring& commandLine,
                             const std::wstring& directory, PROCESS_INFORMATION* started) {
    Platform& platform = CurrentPlatform();
    // CreateProcessW may write into its command line: each try gets a fresh copy.
    std::wstring buffer;
    const wchar_t* const folder = directory.empty() ? nullptr : directory.c_str(); // empty: ours
    const PreferSystem32Attributes attributes;
    if (attributes.List() != nullptr) {
        StartupInfoEx startup = {};
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = attributes.List();
        buffer = commandLine;
        if (platform.StartProcess(program.c_str(), &buffer[0],
                                  CREATE_DEFAULT_ERROR_MODE | EXTENDED_STARTUPINFO_PRESENT, folder,
                                  &startup.StartupInfo, started))
            return TRUE;
        const DWORD error = GetLastError();
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED)
            return FALSE;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    buffer = commandLine;
    return platform.StartProcess(program.c_str(), &buffer[0], CREATE_DEFAULT_ERROR_MODE, folder, &startup,
                                 started);
}
} // namespace

void ExecuteProcess(DWORD seconds, const std::wstring& program, std::wstring arguments,
                    const std::wstring& directory, DWORD* windowsError, DWORD* exitCode) {
    if (!arguments.empty() && arguments[0] != L' ')
        arguments.insert(0, 1, L' ');
    const size_t slash = program.find_last_of(L'\\');
    const std::wstring commandLine =
        (slash == std::wstring::npos ? program : program.substr(slash + 1)) + arguments;

    PROCESS_INFORMATION started = {};
    unique_process_information process;
    BOOL ok = FALSE;
    try {
        ok = StartPreferringSystem32(program, commandLine, directory, &started);
    } catch (const std::bad_alloc&) {
        *windowsError = 1; // no room for the command line
        return;
    }
    const DWORD startError = GetLastError();
    process.take(started);
    if (!ok) {
        *windowsError = startError != 0 ? startError : 1; // never report a failed start as success
        return;
    }
    const DWORD waited = CurrentPlatform().WaitForProcess(process.process.get(), seconds * 1000);
    if (waited != WAIT_OBJECT_0)
        *windowsError = waited;
    else
        GetExitCodeProcess(process.process.get(), exitCode);
    // After a time-out the installer goes on running on its own; its handles close here.
}

void RunSetup(SetupContext& context) {
    const std::wstring folder = PackageFolder(context);
    const std::wstring path = CombinePath(folder, L"Setup.exe");
    context.PostStatus(L"Running the Velomar HD upgrade utility...");

    WIN32_FIND_DATAW found;
    if (!unique_hfind(FindFirstFileW(path.c_str(), &found))) {
        const DWORD error = GetLastError();
        throw SetupException(L"An error occurred running the installation wizard."
                             L"The virtual floppy installation application, Setup.exe, was not found at \"" +
                                 path + L"\". Ensure that this file is not missing, in use or corrupt.",
                             static_cast<int32_t>(error != 0 ? error : ERROR_FILE_NOT_FOUND), 1);
    }

    const std::wstring arguments = L"-s";
    context.WriteLog(L"executing: " + path + L" " + arguments);

    DWORD windowsError = 0, exitCode = 0;
    // The package files stay held while the installer runs and until the pause after it is over.
    ExecuteProcess(SetupTimeLimitSeconds, path, arguments, folder, &windowsError, &exitCode);
    CurrentPlatform().Pause(SetupSettlePause);

    if (exitCode != 0)
        throw SetupException(SetupExitCodeText(exitCode), static_cast<int32_t>(exitCode), 0);
    if (windowsError != 0) {
        wchar_t message[128];
        swprintf(message, 128,
                 L"An Windows error occurred running the hard drive upgrade utility. Error = %u",
                 static_cast<unsigned>(windowsError));
        throw SetupException(message, static_cast<int32_t>(windowsError), 1);
    }
    context.PostDetail(L"Update executed successfully.");
}
