#pragma once
// Security descriptors written in SDDL, for what the program creates where others may look.
#include "platform/Owned.h"

#include <windows.h>

#include <string>
#include <vector>

// A package file: nothing inherited from its folder; SYSTEM and Administrators full control, everyone
// else read.
constexpr wchar_t PackageFileSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)";

// SECURITY_ATTRIBUTES over a descriptor built from SDDL. Get() is null when the text could not be
// converted: the object is then made with the rights it inherits, as on a volume without ACLs.
class SecurityAttributes {
  public:
    explicit SecurityAttributes(const wchar_t* sddl);
    ~SecurityAttributes();
    SecurityAttributes(const SecurityAttributes&) = delete;
    SecurityAttributes& operator=(const SecurityAttributes&) = delete;

    SECURITY_ATTRIBUTES* Get() {
        return m_attributes.lpSecurityDescriptor != nullptr ? &m_attributes : nullptr;
    }
    PSECURITY_DESCRIPTOR Descriptor() const { return m_attributes.lpSecurityDescriptor; }

  private:
    SECURITY_ATTRIBUTES m_attributes = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

// Who may add files to a folder: the decision behind running the package where it was written. Only
// SYSTEM, Administrators, TrustedInstaller and the account running the program are trusted; anyone
// else who may add a file or folder there (a DLL, "Setup.exe.local") could plant code in the installer.

struct FolderVerdict {
    bool othersMayAddFiles = false;
    std::wstring why; // who may, when others may: "Everyone (S-1-1-0) may add files"
};

// Whether sid is one of the trusted: SYSTEM, Administrators, TrustedInstaller or runningUser.
bool IsTrustedSid(PSID sid, PSID runningUser);

// The walk over a folder's owner and DACL as Windows checks access to the folder itself: ACEs in
// order, a deny for a SID (or for Everyone) taking the rights it names from later allows, inherit-only
// ACEs skipped, and an untrusted owner's implicit right to change the DACL counted (unless Owner
// Rights ACEs replace it). A NULL DACL lets anyone add files.
FolderVerdict WhoMayAddFiles(PSID owner, const ACL* dacl, bool daclPresent, PSID runningUser);
// The same over a security descriptor holding an owner and a DACL.
FolderVerdict WhoMayAddFiles(PSECURITY_DESCRIPTOR descriptor, PSID runningUser);

// Reads a real folder's owner and DACL and decides for the account running the program. A volume
// that keeps no rights (FAT) and rights that cannot be read count as writable by anyone.
FolderVerdict ReadWhoMayAddFiles(const std::wstring& folder);

// "Everyone (S-1-1-0)", or the SID's string alone when it has no name here.
std::wstring DescribeSid(PSID sid);

// A folder that only administrators own: owner Administrators, nothing inherited; SYSTEM and
// Administrators full control, Users read and list (inherited by what is made inside).
constexpr wchar_t AdminFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Folders held open without delete sharing, so that none of them can be renamed, removed or replaced
// while held. Released when the object goes.
class TrustedFolders {
  public:
    // Makes and holds folder. Where it lies on a local fixed volume that keeps rights, each folder made on
    // the way gets AdminFolderSddl, and each made one, folder itself and every existing one below top (a
    // parent of folder, or empty) must be no reparse point and be owned by SYSTEM, Administrators,
    // TrustedInstaller or the account running the program. On a share, a removable volume or FAT
    // the volume's rights stay. Returns 0, or the Windows error with refusal naming the folder and why.
    DWORD Hold(const std::wstring& folder, const std::wstring& top, std::wstring& refusal);
    void Release() { m_held.clear(); }

  private:
    std::vector<unique_hfile> m_held;
};
