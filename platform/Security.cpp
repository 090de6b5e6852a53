#include "platform/Security.h"

#include <sddl.h>

SecurityAttributes::SecurityAttributes(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        m_attributes.lpSecurityDescriptor = descriptor;
}

SecurityAttributes::~SecurityAttributes() {
    if (m_attributes.lpSecurityDescriptor != nullptr)
        LocalFree(m_attributes.lpSecurityDescriptor);
}
