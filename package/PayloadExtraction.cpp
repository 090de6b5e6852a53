#include "package/PayloadExtraction.h"

#include "core/Outcomes.h"
#include "platform/Owned.h"
#include "platform/Platform.h"
#include "platform/WorkingDirectory.h"
#include "report/SetupContext.h"
#include "report/SetupException.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

const PayloadFile PayloadCatalogue[PayloadFileCount] = {
    {L"Setup.exe", 102},  {L"Setup.ini", 103},    {L"Unins.exe", 104},
    {L"LoadVF.bin", 105}, {L"VirtFlpy.bin", 106}, {L"VelomarHDv.ima", 108},
};

namespace {
constexpr int32_t ExtractFailed = ExitCode(Outcome::PackageNotWritten);

[[noreturn]] void Fail(const wchar_t* message) {
    throw SetupException(message, ExtractFailed, 1);
}

struct ResourceBytes {
    const void* data;
    DWORD size;
};

HRSRC FindPayload(HMODULE module, WORD id) {
    return FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
}

ResourceBytes LoadPayload(HMODULE module, WORD id) {
    HRSRC resource = FindPayload(module, id);
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
unique_hfile HoldUnchanged(const std::wstring& path, const ResourceBytes& bytes) {
    unique_hfile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        Fail(L"Extract file failed, file handle is invalid");
    LARGE_INTEGER size = {};
    bool same = GetFileSizeEx(file.get(), &size) && size.QuadPart == bytes.size;
    if (same && bytes.size > 0) {
        Platform& platform = CurrentPlatform();
        const unique_handle mapping(platform.CreateReadOnlyMapping(file.get()));
        const unique_mapview view(mapping ? const_cast<void*>(platform.MapReadOnlyView(mapping.get()))
                                          : nullptr);
        same = view && std::memcmp(view.get(), bytes.data, bytes.size) == 0;
    }
    if (!same)
        Fail(L"Extract file failed, file handle is invalid");
    return file;
}

std::wstring FileName(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

// The name and the reason, for a write that failed with a Windows error or an exception code.
[[noreturn]] void FailWriting(const std::wstring& path, const wchar_t* what, DWORD code) {
    wchar_t reason[96];
    swprintf(reason, 96, L" (%ls, code %u)", what, static_cast<unsigned>(code));
    throw SetupException(L"Extract file failed, " + FileName(path) + L" could not be written" + reason,
                         ExtractFailed, 1);
}

// A copy into a view of a file can fault: the disk fills up as its pages are written, or the
// device goes away. Copies run on a thread of their own, and a fault ends that thread instead of
// the program: the top-level exception filter (all that Windows 2000 offers without __try) ends
// it with the exception's code. The thread is made at the first copy and kept (a thread for each
// file costs more than the copy on some systems); after a fault the next copy makes another.
struct ViewCopier {
    unique_handle request, done; // auto-reset events
    unique_handle thread;
    DWORD threadId = 0;
    void* to = nullptr;
    const void* from = nullptr;
    size_t size = 0;
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
};
ViewCopier g_copier; // extraction runs on one thread at a time

LONG WINAPI EndFaultedViewCopy(EXCEPTION_POINTERS* exception) {
    const DWORD code = exception->ExceptionRecord->ExceptionCode;
    if (GetCurrentThreadId() == g_copier.threadId &&
        (code == EXCEPTION_IN_PAGE_ERROR || code == EXCEPTION_ACCESS_VIOLATION))
        ExitThread(code);
    return g_copier.previousFilter != nullptr ? g_copier.previousFilter(exception)
                                              : EXCEPTION_CONTINUE_SEARCH;
}

DWORD WINAPI ServeViewCopies(void*) {
    for (;;) {
        WaitForSingleObject(g_copier.request.get(), INFINITE);
        std::memcpy(g_copier.to, g_copier.from, g_copier.size);
        SetEvent(g_copier.done.get());
    }
}

// The copying thread, made if there is none; false when none can be made.
bool StartViewCopier() {
    if (!g_copier.request)
        g_copier.request.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!g_copier.done)
        g_copier.done.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!g_copier.thread && g_copier.request && g_copier.done)
        g_copier.thread.reset(CreateThread(nullptr, 0, ServeViewCopies, nullptr, 0, &g_copier.threadId));
    return static_cast<bool>(g_copier.thread);
}

// A file being written: closed, and removed unless kept, when it goes out of scope, so that a write
// that fails leaves no partial file behind. Files written before it stay, as after any other
// failed extraction.
class NewFile {
  public:
    explicit NewFile(const std::wstring& path)
        : m_path(path), m_file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~NewFile() {
        m_file.reset();
        if (!m_kept)
            DeleteFileW(m_path.c_str());
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    HANDLE get() const { return m_file.get(); }
    void Keep() { m_kept = true; }

  private:
    const std::wstring& m_path;
    unique_hfile m_file;
    bool m_kept = false;
};

void WriteFileFromBytes(const std::wstring& path, const ResourceBytes& bytes) {
    NewFile file(path);
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.Keep(); // it was never made
        Fail(L"Extract file failed, file handle is invalid");
    }
    if (bytes.size == 0) { // an empty resource is an empty file; there is nothing to map
        file.Keep();
        return;
    }
    Platform& platform = CurrentPlatform();
    // The mapping gives the file its full size first, so that a disk without the room fails here.
    // It is closed before the file.
    const unique_handle mapping(platform.CreateWritableMapping(file.get(), bytes.size));
    if (!mapping) {
        const DWORD error = GetLastError();
        if (error == ERROR_DISK_FULL)
            FailWriting(path, L"the disk has no room for it", error);
        Fail(L"Extract file failed, file mapping handle is invalid");
    }
    DWORD fault = 0;
    {
        const unique_mapview view(platform.MapWritableView(mapping.get()));
        if (!view)
            Fail(L"Extract file failed, file view is invalid");
        fault = CopyIntoView(view.get(), bytes.data, bytes.size);
    }
    if (fault != 0)
        FailWriting(path, L"writing it failed: the disk is full or the device failed", fault);
    file.Keep();
}

// Everything the installer is given must be reachable by a path of fewer than MAX_PATH characters:
// neither the installer's start nor the installer itself can use longer ones.
void CheckPathLengths(const std::wstring& directory) {
    size_t longest = 0;
    for (const PayloadFile& file : PayloadCatalogue)
        longest = std::max(longest, CombinePath(directory, file.name).size());
    if (longest >= MAX_PATH) {
        wchar_t limit[96];
        swprintf(limit, 96, L" (%u characters; the installer takes paths of at most %u)",
                 static_cast<unsigned>(longest), static_cast<unsigned>(MAX_PATH - 1));
        throw SetupException(
            L"Extract file failed, the working directory's path is too long for the installer" +
                std::wstring(limit),
            ExtractFailed, 1);
    }
}

// The package is written only where it fits whole, so that a full disk fails before any file.
void CheckFreeSpace(const std::wstring& directory, HMODULE module) {
    ULONGLONG needed = 0;
    for (const PayloadFile& file : PayloadCatalogue) {
        HRSRC resource = FindPayload(module, file.resourceId);
        if (resource != nullptr)
            needed += SizeofResource(module, resource);
    }
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExW(directory.c_str(), &available, nullptr, nullptr))
        return; // unknown: each file's own write tells
    if (available.QuadPart < needed) {
        wchar_t sizes[128];
        swprintf(sizes, 128, L" (%I64u bytes needed, %I64u free)", needed, available.QuadPart);
        throw SetupException(L"Extract file failed, the disk of the working directory is full" +
                                 std::wstring(sizes),
                             ExtractFailed, 1);
    }
}
} // namespace

DWORD CopyIntoView(void* view, const void* bytes, size_t size) {
    if (!StartViewCopier()) { // no thread to spare: copy here, unguarded
        std::memcpy(view, bytes, size);
        return 0;
    }
    g_copier.to = view;
    g_copier.from = bytes;
    g_copier.size = size;
    g_copier.previousFilter = SetUnhandledExceptionFilter(EndFaultedViewCopy);
    SetEvent(g_copier.request.get());
    const HANDLE ends[] = {g_copier.done.get(), g_copier.thread.get()};
    DWORD result = 0;
    if (WaitForMultipleObjects(2, ends, FALSE, INFINITE) != WAIT_OBJECT_0) { // the thread ended: a fault
        if (!GetExitCodeThread(g_copier.thread.get(), &result) || result == 0)
            result = EXCEPTION_IN_PAGE_ERROR;
        g_copier.thread.reset();
        g_copier.threadId = 0;
    }
    SetUnhandledExceptionFilter(g_copier.previousFilter);
    g_copier.previousFilter = nullptr;
    return result;
}

void ExtractResourceFile(HMODULE module, WORD id, const std::wstring& path) {
    WriteFileFromBytes(path, LoadPayload(module, id));
}

void ExtractInstallationFiles(SetupContext& context) {
    const std::wstring directory = GetWorkingDirectory();
    context.PostStatus(L"Extracting the installation...");
    CheckPathLengths(directory);
    WIN32_FIND_DATAW found;
    if (unique_hfind(FindFirstFileW(directory.c_str(), &found))) {
        context.PostDetail(L"Cleaning working directory");
        DeleteExistingFiles(context);
    }
    context.PostDetail(L"Extracting installation files");
    HMODULE module = GetModuleHandleW(nullptr);
    CheckFreeSpace(directory, module);
    for (const PayloadFile& file : PayloadCatalogue) {
        const std::wstring path = CombinePath(directory, file.name);
        const ResourceBytes bytes = LoadPayload(module, file.resourceId);
        WriteFileFromBytes(path, bytes);
        if (&file == &PayloadCatalogue[0])
            context.HoldInstaller(HoldUnchanged(path, bytes));
    }
}

void DeleteExistingFiles(SetupContext& context) {
    context.PostDetail(L"Deleting existing files");
    const std::wstring directory = GetWorkingDirectory();
    for (const PayloadFile& file : PayloadCatalogue)
        DeleteFileW(CombinePath(directory, file.name).c_str());
}
