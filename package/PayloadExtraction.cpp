#include "package/PayloadExtraction.h"

#include "install/Platform.h"
#include "install/SetupException.h"
#include "install/SetupThread.h"
#include "install/WorkingDirectory.h"

#include <cstring>

const PayloadFile PayloadCatalogue[PayloadFileCount] = {
    {L"Setup.exe", 102},  {L"Setup.ini", 103},    {L"Unins.exe", 104},
    {L"LoadVF.bin", 105}, {L"VirtFlpy.bin", 106}, {L"VelomarHDv.ima", 108},
};

namespace {
constexpr int32_t ExtractFailed = ERROR_INVALID_HANDLE; // 6

[[noreturn]] void Fail(const wchar_t* message) {
    throw SetupException(message, ExtractFailed, 1);
}

struct ResourceBytes {
    const void* data;
    DWORD size;
};

ResourceBytes LoadPayload(HMODULE module, WORD id) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    if (resource == nullptr)
        Fail(L"Extract file failed, resource handle is invalid");
    HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr)
        Fail(L"Extract file failed, file resource handle is invalid");
    return {data, SizeofResource(module, resource)};
}

// Opens the written file again for reading only, sharing it for reading only, and checks that it
// still holds exactly the resource's bytes: from here on nobody can change, replace or delete it.
HANDLE HoldUnchanged(const std::wstring& path, const ResourceBytes& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail(L"Extract file failed, file handle is invalid");
    LARGE_INTEGER size = {};
    bool same = GetFileSizeEx(file, &size) && size.QuadPart == bytes.size;
    if (same && bytes.size > 0) {
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        const void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        same = view != nullptr && std::memcmp(view, bytes.data, bytes.size) == 0;
        if (view != nullptr)
            UnmapViewOfFile(view);
        if (mapping != nullptr)
            CloseHandle(mapping);
    }
    if (!same) {
        CloseHandle(file);
        Fail(L"Extract file failed, file handle is invalid");
    }
    return file;
}

void WriteFileFromBytes(const std::wstring& path, const ResourceBytes& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail(L"Extract file failed, file handle is invalid");
    if (bytes.size == 0) { // an empty resource is an empty file; there is nothing to map
        CloseHandle(file);
        return;
    }
    HANDLE mapping = CurrentPlatform().CreateWritableMapping(file, bytes.size);
    if (mapping == nullptr) {
        CloseHandle(file);
        Fail(L"Extract file failed, file mapping handle is invalid");
    }
    void* view = CurrentPlatform().MapWritableView(mapping);
    if (view == nullptr) {
        CloseHandle(mapping);
        CloseHandle(file);
        Fail(L"Extract file failed, file view is invalid");
    }
    std::memcpy(view, bytes.data, bytes.size);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(file);
}
} // namespace

void ExtractResourceFile(HMODULE module, WORD id, const std::wstring& path) {
    WriteFileFromBytes(path, LoadPayload(module, id));
}

void ExtractInstallationFiles(SetupThread& thread) {
    const std::wstring directory = GetWorkingDirectory();
    thread.PostStatus(L"Extracting the installation...");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(directory.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        thread.PostDetail(L"Cleaning working directory");
        DeleteExistingFiles(thread);
    }
    thread.PostDetail(L"Extracting installation files");
    HMODULE module = GetModuleHandleW(nullptr);
    for (const PayloadFile& file : PayloadCatalogue) {
        const std::wstring path = CombinePath(directory, file.name);
        const ResourceBytes bytes = LoadPayload(module, file.resourceId);
        WriteFileFromBytes(path, bytes);
        if (&file == &PayloadCatalogue[0])
            thread.HoldInstaller(HoldUnchanged(path, bytes));
    }
}

void DeleteExistingFiles(SetupThread& thread) {
    thread.PostDetail(L"Deleting existing files");
    const std::wstring directory = GetWorkingDirectory();
    for (const PayloadFile& file : PayloadCatalogue)
        DeleteFileW(CombinePath(directory, file.name).c_str());
}
