#include "platform/FolderRights.h"

#include "platform/Platform.h"

#include <aclapi.h>
#include <sddl.h>

#include <map>

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
    if (!root.empty() && GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
        !(flags & FILE_PERSISTENT_ACLS))
        return {true, L"its volume keeps no access rights: anyone may add files"};

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        GetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
        return {true, L"its access rights could not be read (error " + std::to_wstring(error) + L")"};
    std::vector<BYTE> user = ProcessUserSid();
    const FolderVerdict verdict = WhoMayAddFiles(descriptor, user.empty() ? nullptr : user.data());
    LocalFree(descriptor);
    return verdict;
}
