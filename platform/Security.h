#pragma once
// Security descriptors written in SDDL, for what the program creates where others may look.
#include <windows.h>

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
