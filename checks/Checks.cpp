#include "checks/Checks.h"

#include "drive/WMIConnection.h"
#include "platform/Owned.h"
#include "platform/Platform.h"
#include "platform/WorkingDirectory.h"
#include "report/SetupContext.h"

#include <cwchar>

bool CheckAdminCredentials(SetupContext&) {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    unique_sid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                  0, 0, 0, 0, administrators.put()))
        return false;
    BOOL isMember = FALSE;
    return CurrentPlatform().IsTokenMember(administrators.get(), &isMember) && isMember;
}

bool CheckWindowsVersion(SetupContext& context) {
    const OSVERSIONINFOW info = ReadWindowsVersion();
    wchar_t line[64];
    swprintf(line, 64, L"Current Windows version = %u.%u", static_cast<unsigned>(info.dwMajorVersion),
             static_cast<unsigned>(info.dwMinorVersion));
    context.PostDetail(line);
    if (info.dwMajorVersion < 5)
        return false;
    context.PostDetail(L"Windows 2000 or later was found");
    return true;
}

bool IsEfiBootLoader(SetupContext& context) {
    const OSVERSIONINFOW info = ReadWindowsVersion();
    // Windows 2000, XP and Vista boot only through the legacy loader; later releases that declare
    // nothing else report themselves as 6.2.
    if (info.dwMajorVersion != 6 || info.dwMinorVersion < 1)
        return false;
    WMIConnection connection;
    if (!connection.Open())
        throw HDWMIException(L"An error occurred connecting to WMI to check the boot loader.");
    const bool gpt = QueryDisk0IsGPT(connection);
    connection.Close();
    context.PostDetail(gpt ? L"Windows using EFI boot loader" : L"Windows using Legacy boot loader");
    return gpt;
}

bool IsOnACPower(SetupContext&) {
    // A status that cannot be read counts as "unknown" (255), which passes like every status but
    // offline.
    SYSTEM_POWER_STATUS status = {};
    status.ACLineStatus = 255;
    if (!CurrentPlatform().ReadPowerStatus(&status))
        status.ACLineStatus = 255;
    return status.ACLineStatus != 0;
}

namespace {
// "C:" for a path on a drive letter; empty for a network path, which BitLocker never encrypts.
std::wstring DriveLetterOf(const std::wstring& path) {
    wchar_t letter = path.size() >= 2 && path[1] == L':' ? path[0] : 0;
    if (letter >= L'a' && letter <= L'z')
        letter = static_cast<wchar_t>(letter - L'a' + L'A');
    return letter >= L'A' && letter <= L'Z' ? std::wstring{letter, L':'} : std::wstring();
}
} // namespace

std::wstring FindEncryptedVolume(SetupContext&) {
    if (ReadWindowsVersion().dwMajorVersion < 6)
        return std::wstring();
    std::wstring letters[2];
    letters[0] = DriveLetterOf(GetWorkingDirectory());
    wchar_t windows[MAX_PATH] = L"";
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    letters[1] = DriveLetterOf(length > 0 && length < MAX_PATH ? windows : L"");
    if (letters[1] == letters[0])
        letters[1].clear();
    if (letters[0].empty() && letters[1].empty())
        return std::wstring();

    WMIConnection connection;
    const HRESULT opened = connection.OpenNamespace(VolumeEncryptionNamespace, RPC_C_AUTHN_LEVEL_PKT_PRIVACY);
    if (opened == HRESULT(WBEM_E_INVALID_NAMESPACE))
        return std::wstring(); // Windows without BitLocker
    if (opened != S_OK)
        throw HDWMIException(L"An error occurred connecting to WMI to check the volume encryption.");
    std::wstring encrypted;
    for (const std::wstring& letter : letters) {
        if (!letter.empty() && QueryVolumeEncryption(connection, letter) == VolumeEncryption::Encrypted) {
            encrypted = letter;
            break;
        }
    }
    connection.Close();
    return encrypted;
}
