#include "report/HistoryLog.h"

#include <shlobj.h>

namespace {
// Makes every missing folder of path's parent.
void MakeParentFolders(const std::wstring& path) {
    const size_t last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos)
        return;
    // Past the root: "C:\", or "\\server\share\" (its first four separators).
    size_t from = 0;
    if (path.compare(0, 2, L"\\\\") == 0) {
        for (int separators = 0; separators < 4 && from != std::wstring::npos; ++separators)
            from = path.find_first_of(L"\\/", from + 1);
    } else {
        from = path.find_first_of(L"\\/");
    }
    for (size_t at = from; at != std::wstring::npos && at <= last; at = path.find_first_of(L"\\/", at + 1))
        if (at > 0 && path[at - 1] != L':')
            CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                            nullptr);
    return bytes;
}

// The older generation of a log: "x.log" becomes "x.lo_", other names get a "_" appended.
std::wstring OlderGeneration(const std::wstring& path) {
    const size_t dot = path.find_last_of(L'.');
    const size_t slash = path.find_last_of(L"\\/");
    const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    if (hasExtension && dot + 1 < path.size())
        return path.substr(0, path.size() - 1) + L'_';
    return path + L'_';
}
} // namespace

UtcTime UtcNow() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

HistoryLog& History() {
    static HistoryLog log;
    return log;
}

std::wstring DefaultHistoryLogPath() {
    wchar_t folder[MAX_PATH] = L"";
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) != S_OK)
        return std::wstring();
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path + L"Velomar\\HD Firmware Update\\Tarnwick.log";
}

DWORD HistoryLog::Open(const std::wstring& path) {
    Hold hold(m_lock);
    m_file.reset();
    MakeParentFolders(path);
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) &&
        (attributes.nFileSizeHigh != 0 || attributes.nFileSizeLow > MaxHistoryLogSize))
        MoveFileExW(path.c_str(), OlderGeneration(path).c_str(), MOVEFILE_REPLACE_EXISTING);
    // Appends only: runs that share the log (two at once, or a viewer) never overwrite each other.
    // Written through: a restart or a killed process must not eat the end of the log.
    m_file.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!m_file)
        return GetLastError() != 0 ? GetLastError() : ERROR_OPEN_FAILED;
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(m_file.get(), &size) && size.QuadPart == 0) {
        static const char byteOrderMark[] = "\xEF\xBB\xBF";
        DWORD written = 0;
        WriteFile(m_file.get(), byteOrderMark, 3, &written, nullptr);
    }
    return 0;
}

void HistoryLog::Close() {
    Hold hold(m_lock);
    m_file.reset();
}

void HistoryLog::Write(const std::wstring& text, Severity severity) {
    Hold hold(m_lock);
    if (!m_file)
        return;
    const std::string entry =
        ToUtf8(FormatTraceEntry(text, UtcNow(), severity, GetCurrentThreadId(), L"Tarnwick"));
    DWORD written = 0;
    WriteFile(m_file.get(), entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
}
