#include "platform/Security.h"

#include "platform/OwnFile.h"
#include "platform/Platform.h"

#include <aclapi.h>
#include <sddl.h>

#include <map>

SecurityAttributes::SecurityAttributes(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        m_attributes.lpSecurityDescriptor = descriptor;
}

SecurityAttributes::~SecurityAttributes() {
    if (m_attributes.lpSecurityDescriptor != nullptr)
        LocalFree(m_attributes.lpSecurityDescriptor);
}

namespace {
// Adding a file or a folder, or changing who may: what a planted DLL or "Setup.exe.local" needs.
constexpr ACCESS_MASK AddRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | WRITE_DAC | WRITE_OWNER;
constexpr wchar_t Everyone[] = L"S-1-1-0";
constexpr wchar_t OwnerRights[] = L"S-1-3-4";

std::wstring SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &text))
        return std::wstring();
    std::wstring result = text;
    LocalFree(text);
    return result;
}

ACCESS_MASK FileRights(ACCESS_MASK mask) {
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    MapGenericMask(&mask, &mapping);
    return mask;
}

// The ACEs that apply to the folder itself, with their SID as text (empty for an object ACE).
struct Entry {
    BYTE type;
    ACCESS_MASK mask;
    PSID sid;
    std::wstring sidText;
};

template <typename Visit> void ForEachEffectiveAce(const ACL* dacl, Visit visit) {
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(const_cast<ACL*>(dacl), index, &ace))
            break;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceFlags & INHERIT_ONLY_ACE)
            continue; // applies to what is made inside, not to the folder
        Entry entry = {header->AceType, 0, nullptr, L""};
        switch (header->AceType) {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_DENIED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: { // same layout; its condition may hold: counted as an allow
            auto* simple = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            entry.mask = FileRights(simple->Mask);
            entry.sid = &simple->SidStart;
            entry.sidText = SidText(entry.sid);
            if (entry.type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
                entry.type = ACCESS_ALLOWED_ACE_TYPE;
            break;
        }
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: // not made for files: whom it names is not read
            entry.type = ACCESS_ALLOWED_ACE_TYPE;
            entry.mask = FileRights(static_cast<ACCESS_ALLOWED_OBJECT_ACE*>(ace)->Mask);
            break;
        default:
            continue; // a conditional deny may not hold, and audit entries grant nothing
        }
        visit(entry);
    }
}
} // namespace

std::wstring DescribeSid(PSID sid) {
    const std::wstring text = SidText(sid);
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (sid == nullptr || !LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        return text;
    return std::wstring(domain[0] != L'\0' ? std::wstring(domain) + L"\\" : L"") + name + L" (" + text + L")";
}

bool IsTrustedSid(PSID sid, PSID runningUser) {
    const std::wstring text = SidText(sid);
    return text == L"S-1-5-18" || text == L"S-1-5-32-544" ||
           text == L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464" ||
           (!text.empty() && text == SidText(runningUser));
}

FolderVerdict WhoMayAddFiles(PSID owner, const ACL* dacl, bool daclPresent, PSID runningUser) {
    if (!daclPresent || dacl == nullptr)
        return {true, L"it has no access list (a NULL DACL): anyone may add files"};
    bool ownerRightsGiven = false; // Owner Rights entries replace the owner's implicit rights
    ForEachEffectiveAce(dacl, [&](const Entry& entry) { ownerRightsGiven |= entry.sidText == OwnerRights; });
    const bool trustedOwner = owner == nullptr || IsTrustedSid(owner, runningUser);
    if (!trustedOwner && !ownerRightsGiven)
        return {true, DescribeSid(owner) + L" owns it and may change who adds files"};

    const std::wstring ownerText = SidText(owner);
    std::map<std::wstring, ACCESS_MASK> denied; // by SID, Owner Rights counted as the owner's
    FolderVerdict verdict;
    ForEachEffectiveAce(dacl, [&](const Entry& entry) {
        const bool forOwner = entry.sidText == OwnerRights;
        const std::wstring who = forOwner ? ownerText : entry.sidText;
        if (entry.type == ACCESS_DENIED_ACE_TYPE) {
            denied[who] |= entry.mask;
            return;
        }
        // Creator Owner and Creator Group match no one on the folder itself.
        if (verdict.othersMayAddFiles || who == L"S-1-3-0" || who == L"S-1-3-1")
            return;
        if (entry.sid != nullptr && (forOwner ? trustedOwner : IsTrustedSid(entry.sid, runningUser)))
            return;
        const ACCESS_MASK granted = entry.mask & ~denied[who] & ~denied[Everyone];
        if (granted & AddRights)
            verdict = {true, (entry.sid == nullptr ? std::wstring(L"whoever an object entry names")
                                                   : DescribeSid(forOwner ? owner : entry.sid)) +
                                 L" may add files"};
    });
    return verdict;
}

FolderVerdict WhoMayAddFiles(PSECURITY_DESCRIPTOR descriptor, PSID runningUser) {
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE, daclPresent = FALSE, daclDefaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted);
    if (!GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted))
        daclPresent = FALSE;
    return WhoMayAddFiles(owner, dacl, daclPresent != FALSE, runningUser);
}

FolderVerdict ReadWhoMayAddFiles(const std::wstring& folder) {
    // The volume's root: "C:\" or "\\server\share\".
    std::wstring root;
    if (folder.size() >= 2 && folder[1] == L':') {
        root = folder.substr(0, 2) + L"\\";
    } else if (folder.compare(0, 2, L"\\\\") == 0 && folder.compare(0, 4, L"\\\\?\\") != 0) {
        size_t at = folder.find(L'\\', 2);
        at = at == std::wstring::npos ? at : folder.find(L'\\', at + 1);
        root = (at == std::wstring::npos ? folder : folder.substr(0, at)) + L"\\";
    }
    DWORD flags = 0;
    if (!root.empty() &&
        GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
        !(flags & FILE_PERSISTENT_ACLS))
        return {true, L"its volume keeps no access rights: anyone may add files"};

    unique_hfile handle(CreateFileW(folder.c_str(), READ_CONTROL,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = !handle ? GetLastError() : CurrentPlatform().ReadSecurity(handle.get(), &descriptor);
    if (error != ERROR_SUCCESS)
        return {true, L"its access rights could not be read (error " + std::to_wstring(error) + L")"};
    std::vector<BYTE> user = ProcessUserSid();
    const FolderVerdict verdict = WhoMayAddFiles(descriptor, user.empty() ? nullptr : user.data());
    LocalFree(descriptor);
    return verdict;
}

namespace {
// A local fixed volume that keeps access rights (not FAT).
bool OnLocalFixedVolume(const std::wstring& folder) {
    if (folder.size() < 3 || folder[1] != L':' || (folder[2] != L'\\' && folder[2] != L'/'))
        return false; // a share, or a path this program does not make
    const std::wstring root = folder.substr(0, 3);
    DWORD flags = 0;
    const bool keepsNoRights =
        GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
        !(flags & FILE_PERSISTENT_ACLS);
    return GetDriveTypeW(root.c_str()) == DRIVE_FIXED && !keepsNoRights;
}

// Why an opened folder may not be used: 0 when it is a folder of its own whose owner is trusted.
DWORD CheckFolder(HANDLE folder, const std::wstring& path, std::wstring& refusal) {
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!CurrentPlatform().ReadFileInformation(folder, &information)) {
        const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_FUNCTION;
        refusal = path + L": it could not be read (error " + std::to_wstring(error) + L")";
        return error;
    }
    // Held, the name stays this folder's: its attributes by name are its own too (where Wine shows a
    // symbolic link as a reparse point; by handle it does not).
    const DWORD byName = GetFileAttributesW(path.c_str());
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ||
        !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (byName != INVALID_FILE_ATTRIBUTES && byName & FILE_ATTRIBUTE_REPARSE_POINT)) {
        refusal = path + L": it is a link (a reparse point), not a folder of its own";
        return OwnFileIsReparsePoint;
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    const DWORD error = CurrentPlatform().ReadSecurity(folder, &descriptor);
    if (error != ERROR_SUCCESS || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) {
        LocalFree(descriptor);
        refusal = path + L": its owner could not be read (error " + std::to_wstring(error) + L")";
        return error != ERROR_SUCCESS ? error : ERROR_INVALID_OWNER;
    }
    std::vector<BYTE> user = ProcessUserSid();
    const bool trusted = IsTrustedSid(owner, user.empty() ? nullptr : user.data());
    if (!trusted)
        refusal = path + L": it is owned by " + DescribeSid(owner) +
                  L", not by SYSTEM, Administrators or the account running the program";
    LocalFree(descriptor);
    return trusted ? 0 : ERROR_INVALID_OWNER;
}
} // namespace

DWORD TrustedFolders::Hold(const std::wstring& folder, const std::wstring& top, std::wstring& refusal) {
    const bool checked = OnLocalFixedVolume(folder);
    SecurityAttributes adminOnly(AdminFolderSddl);
    // Each level below the root: "C:\a", "C:\a\b"...; for a share, those below "\\server\share".
    size_t at = folder.compare(0, 2, L"\\\\") == 0 ? folder.find(L'\\', folder.find(L'\\', 2) + 1)
                                                   : folder.find_first_of(L"\\/");
    bool made = false;
    while (true) {
        at = at == std::wstring::npos ? at : folder.find_first_of(L"\\/", at + 1);
        const std::wstring level = at == std::wstring::npos ? folder : folder.substr(0, at);
        const bool last = at == std::wstring::npos;
        if (GetFileAttributesW(level.c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (!CreateDirectoryW(level.c_str(), checked ? adminOnly.Get() : nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                const DWORD error = GetLastError();
                refusal = level + L": it could not be made (error " + std::to_wstring(error) + L")";
                return error;
            }
            made = true;
        }
        const bool belowTop = !top.empty() && level.size() > top.size() &&
                              level.compare(0, top.size(), top) == 0 &&
                              (level[top.size()] == L'\\' || level[top.size()] == L'/');
        const bool check = checked && (made || last || belowTop);
        if (check || last) {
            const DWORD access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | (check ? READ_CONTROL : 0);
            unique_hfile handle(
                CreateFileW(level.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (!handle && !check)
                return 0; // a share may let the program write and no more: held where it can be
            if (!handle) {
                const DWORD error = GetLastError();
                refusal = level + L": it could not be opened (error " + std::to_wstring(error) + L")";
                return error;
            }
            const DWORD error = check ? CheckFolder(handle.get(), level, refusal) : 0;
            if (error != 0)
                return error;
            m_held.push_back(std::move(handle));
        }
        if (last)
            return 0;
    }
}
