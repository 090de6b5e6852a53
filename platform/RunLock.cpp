#include "platform/RunLock.h"

#include "platform/Platform.h"
#include "platform/Security.h"

namespace {
constexpr wchar_t NamespacePrefix[] = L"Tarnwick";
constexpr wchar_t NamespacedName[] = L"Tarnwick\\RunLock";
constexpr wchar_t GlobalName[] = L"Global\\TarnwickRunLock";
// Full control for SYSTEM and Administrators, nothing for anyone else, nothing inherited.
constexpr wchar_t AdministratorsOnlySddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
} // namespace

RunLock::RunLock() {
    Platform& platform = CurrentPlatform();
    SecurityAttributes security(AdministratorsOnlySddl); // and handles no child inherits
    m_namespace = platform.CreateAdministratorsNamespace(security.Get(), NamespacePrefix);
    if (m_namespace == nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        m_namespace = platform.OpenAdministratorsNamespace(NamespacePrefix);
        if (m_namespace == nullptr) {
            m_error = GetLastError(); // someone else's namespace: counts as another run
            return;
        }
    }
    m_name = m_namespace != nullptr ? NamespacedName : GlobalName;
    m_mutex.reset(platform.CreateNamedMutex(security.Get(), m_name));
    if (!m_mutex) {
        // ERROR_ACCESS_DENIED: it exists and is not ours to open; ERROR_INVALID_HANDLE: another kind
        // of object has taken the name. Either way this run cannot tell that it is alone.
        m_error = GetLastError() != 0 ? GetLastError() : ERROR_ACCESS_DENIED;
        return;
    }
    switch (platform.TryTakeMutex(m_mutex.get())) {
    case WAIT_OBJECT_0:
        m_state = State::Held;
        break;
    case WAIT_ABANDONED:
        m_state = State::Abandoned;
        break;
    case WAIT_TIMEOUT:
        m_mutex.reset();
        break;
    default:
        m_error = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_FUNCTION;
        m_mutex.reset();
    }
}

RunLock::~RunLock() {
    if (m_mutex)
        ReleaseMutex(m_mutex.get());
    m_mutex.reset();
    if (m_namespace != nullptr)
        CurrentPlatform().ClosePrivateNamespace(m_namespace);
}
