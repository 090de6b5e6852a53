#include "report/HistoryLog.h"

#include "platform/OwnFile.h"
#include "platform/PackageFolder.h"

namespace {
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
    const std::wstring folder = ProductDataFolder();
    return folder.empty() ? folder : folder + L"\\Tarnwick.log";
}

DWORD HistoryLog::Open(const std::wstring& path) {
    Hold hold(m_lock);
    m_file.reset();
    m_folders.Release();
    const DWORD error = OpenInTrustedFolder(path);
    if (error != 0) {
        m_file.reset();
        m_folders.Release();
        return error;
    }
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(m_file.get(), &size) && size.QuadPart == 0) {
        static const char byteOrderMark[] = "\xEF\xBB\xBF";
        DWORD written = 0;
        WriteFile(m_file.get(), byteOrderMark, 3, &written, nullptr);
    }
    return 0;
}

DWORD HistoryLog::OpenInTrustedFolder(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        // The folders below the common application-data folder are the program's own: checked too.
        const std::wstring common = CommonDataFolder();
        const bool rootFolder = slash > 0 && path[slash - 1] == L':';
        std::wstring refusal;
        const DWORD refused = m_folders.Hold(path.substr(0, rootFolder ? slash + 1 : slash), common, refusal);
        if (refused != 0) {
            m_refusal += (m_refusal.empty() ? L"" : L" ") + refusal;
            return refused;
        }
    }
    // Appends only: runs that share the log (two at once, or a viewer) never overwrite each other.
    // Written through: a restart or a killed process must not eat the end of the log. Only a log of
    // our own is appended to or rotated: never a link to some other file.
    const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD error = 0;
    m_file = OpenExistingFile(path, access, share, FILE_FLAG_WRITE_THROUGH, error);
    LARGE_INTEGER size = {};
    if (m_file && GetFileSizeEx(m_file.get(), &size) && size.QuadPart > MaxHistoryLogSize) {
        m_file.reset();
        if (MoveFileExW(path.c_str(), OlderGeneration(path).c_str(), MOVEFILE_REPLACE_EXISTING))
            error = ERROR_FILE_NOT_FOUND;
        else
            m_file = OpenExistingFile(path, access, share, FILE_FLAG_WRITE_THROUGH, error);
    }
    if (!m_file && error == ERROR_FILE_NOT_FOUND) {
        m_file = CreateNewFile(path, access, share, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr,
                               error);
        if (!m_file && error == ERROR_FILE_EXISTS) // another run made it a moment ago
            m_file = OpenExistingFile(path, access, share, FILE_FLAG_WRITE_THROUGH, error);
    }
    if (error == OwnFileHasOtherNames || error == OwnFileIsReparsePoint)
        m_refusal += (m_refusal.empty() ? L"" : L" ") + path + L": " + OwnFileRefusal(error);
    return m_file ? 0 : (error != 0 ? error : ERROR_OPEN_FAILED);
}

void HistoryLog::Close() {
    Hold hold(m_lock);
    m_file.reset();
    m_folders.Release();
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
