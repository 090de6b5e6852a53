#include "restart/VerificationSetup.h"

#include "platform/OwnFile.h"
#include "platform/PackageFolder.h"
#include "platform/Security.h"
#include "report/HistoryLog.h"
#include "restart/NextStartTask.h"

#include <windows.h>

namespace {
std::wstring RunningProgram() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    return length > 0 && length <= MAX_PATH ? std::wstring(path, length) : std::wstring();
}

std::wstring ErrorText(const wchar_t* what, DWORD error) {
    return std::wstring(what) + L" (error " + std::to_wstring(error) + L")";
}

// Copies from into a new file of our own at to: 0 or the Windows error; no half copy is left.
DWORD CopyAsOwnFile(const std::wstring& from, const std::wstring& to) {
    DWORD error = 0;
    unique_hfile source = OpenExistingFile(from, GENERIC_READ, FILE_SHARE_READ, 0, error);
    if (!source)
        return error;
    SecurityAttributes security(PackageFileSddl);
    unique_hfile target = ReplaceWithNewFile(to, GENERIC_WRITE, 0, 0, security.Get(), error);
    if (!target)
        return error;
    char buffer[65536];
    DWORD read = 0, written = 0;
    while (ReadFile(source.get(), buffer, sizeof buffer, &read, nullptr)) {
        if (read == 0)
            return 0;
        if (!WriteFile(target.get(), buffer, read, &written, nullptr) || written != read)
            break;
    }
    error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    target.reset();
    DeleteFileW(to.c_str());
    return error;
}
} // namespace

std::wstring VerificationFolder() {
    const std::wstring product = ProductDataFolder();
    return product.empty() ? product : product + L"\\Verification";
}

namespace {
// Empty when both succeeded, else what failed.
std::wstring CopyAndRegister() {
    const std::wstring folder = VerificationFolder();
    const std::wstring program = RunningProgram();
    if (folder.empty() || program.empty())
        return L"The verification after the restart could not be set up: the program's folder or the "
               L"common application-data folder is unknown.";
    TrustedFolders held;
    std::wstring refusal;
    DWORD error = held.Hold(folder, CommonDataFolder(), refusal);
    if (error != 0)
        return L"The verification after the restart could not be set up: " + refusal;
    const std::wstring copy = folder + L"\\" + VerificationProgramName;
    error = CopyAsOwnFile(program, copy);
    if (error != 0)
        return L"The verification after the restart could not be set up: " +
               ErrorText((L"the program could not be copied to " + copy).c_str(), error);
    const HRESULT registered = RegisterNextStartTask(copy, VerifySwitch);
    if (FAILED(registered)) {
        DeleteFileW(copy.c_str());
        wchar_t code[16];
        wsprintfW(code, L"0x%08lX", static_cast<unsigned long>(registered));
        return L"The verification after the restart could not be set up: the task could not be registered "
               L"(error " +
               std::wstring(code) + L")";
    }
    return std::wstring();
}
} // namespace

std::wstring SetUpVerification() {
    const std::wstring failure = CopyAndRegister();
    if (failure.empty())
        History().Write(L"Registered: the drive is verified at the next start of Windows.");
    else
        History().Write(failure, Severity::Warning);
    return failure;
}
