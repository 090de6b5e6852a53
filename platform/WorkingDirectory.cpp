#include "platform/WorkingDirectory.h"

#include "platform/Platform.h"

#include <vector>

std::wstring GetWorkingDirectory() {
    Platform& platform = CurrentPlatform();
    // The directory can change between the two calls; ask again until the buffer is large enough.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed = platform.ReadCurrentDirectory(0, nullptr);
        if (needed == 0)
            return std::wstring();
        std::vector<wchar_t> buffer(needed);
        const DWORD length = platform.ReadCurrentDirectory(needed, buffer.data());
        if (length == 0)
            return std::wstring();
        if (length < needed)
            return std::wstring(buffer.data(), length);
    }
    return std::wstring();
}

std::wstring CombinePath(const std::wstring& directory, const std::wstring& name) {
    if (directory.empty())
        return name;
    std::wstring path = directory;
    if (path.back() != L'\\')
        path += L'\\';
    return path + name;
}
