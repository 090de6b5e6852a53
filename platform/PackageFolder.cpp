#include "platform/PackageFolder.h"

#include <aclapi.h>
#include <shlobj.h>

namespace {
// Gives folder the private rights anew, whatever an earlier run or anyone else left, and reads back
// that no one else may add files. False, with refusal saying why, when it does not hold.
bool MakePrivate(const std::wstring& folder, std::wstring& refusal) {
    SecurityAttributes adminOnly(AdminFolderSddl);
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    if (adminOnly.Descriptor() != nullptr)
        GetSecurityDescriptorDacl(adminOnly.Descriptor(), &present, &dacl, &defaulted);
    const DWORD error =
        dacl == nullptr
            ? ERROR_INVALID_ACL
            : SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, dacl, nullptr);
    if (error != ERROR_SUCCESS) {
        refusal = folder + L": its rights could not be set (error " + std::to_wstring(error) + L")";
        return false;
    }
    const FolderVerdict verdict = ReadWhoMayAddFiles(folder);
    if (verdict.othersMayAddFiles)
        refusal = folder + L": " + verdict.why;
    return !verdict.othersMayAddFiles;
}
} // namespace

std::wstring CommonDataFolder() {
    wchar_t folder[MAX_PATH] = L"";
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK)
        return std::wstring();
    std::wstring path = folder;
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

std::wstring ProductDataFolder() {
    const std::wstring common = CommonDataFolder();
    return common.empty() ? common : common + L"\\Velomar\\HD Firmware Update";
}

PackageFolderChoice ChoosePackageFolder(const std::wstring& workingDirectory) {
    PackageFolderChoice choice;
    const FolderVerdict verdict = ReadWhoMayAddFiles(workingDirectory);
    if (!verdict.othersMayAddFiles) {
        choice.path = workingDirectory;
        return choice;
    }
    choice.whyPrivate = verdict.why;
    const std::wstring product = ProductDataFolder();
    std::wstring refusal = L"the common application-data folder is unknown";
    if (!product.empty()) {
        const std::wstring packageFolder = product + L"\\Package";
        if (choice.held.Hold(packageFolder, CommonDataFolder(), refusal) == 0 &&
            MakePrivate(packageFolder, refusal)) {
            choice.path = packageFolder;
            return choice;
        }
    }
    choice.held.Release();
    choice.failure = L"The package cannot be run from " + workingDirectory + L" (" + verdict.why +
                     L") and the private folder cannot be used: " + refusal;
    return choice;
}
