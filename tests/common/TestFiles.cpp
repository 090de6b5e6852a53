#include "TestFiles.h"

const wchar_t* const PackageFiles[6] = {L"Setup.exe",  L"Setup.ini",    L"Unins.exe",
                                        L"LoadVF.bin", L"VirtFlpy.bin", L"VelomarHDv.ima"};

std::string ReadBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool whole = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size();
    CloseHandle(file);
    return whole;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string LogBytes(const std::vector<std::wstring>& entries) {
    std::string bytes = "\xFF\xFE";
    for (const std::wstring& entry : entries) {
        const std::wstring line = entry + L"\r\n";
        bytes.append(reinterpret_cast<const char*>(line.data()), line.size() * sizeof(wchar_t));
    }
    return bytes;
}
