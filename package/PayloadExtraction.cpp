#include "package/PayloadExtraction.h"

#include "core/Outcomes.h"
#include "package/PackageFolder.h"
#include "platform/OwnFile.h"
#include "platform/Owned.h"
#include "platform/Platform.h"
#include "platform/Security.h"
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
constexpr DWORD WritePiece = 8u << 20;

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

std::wstring FileName(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

// The name and the reason, for a write that failed with a Windows error or an exception code.
[[noreturn]] void FailWriting(const std::wstring& path, const std::wstring& what, DWORD code) {
    wchar_t number[32];
    swprintf(number, 32, L", code %u)", static_cast<unsigned>(code));
    throw SetupException(L"Extract file failed, " + FileName(path) + L" could not be written (" + what +
                             number,
                         ExtractFailed, 1);
}

// A file whose name another file still holds, or that turned out to be a link, is refused with its
// reason; any other failure to open it keeps the plain text.
[[noreturn]] void FailOwnFile(const std::wstring& path, DWORD error) {
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == OwnFileIsReparsePoint ||
        error == OwnFileHasOtherNames)
        FailWriting(path, OwnFileRefusal(error), error);
    Fail(L"Extract file failed, file handle is invalid");
}

// Opens the written file again for reading only, sharing it for reading only, as a plain file with one
// name, and checks that it still holds exactly the resource's bytes: from here on nobody can change,
// replace or delete it.
unique_hfile HoldUnchanged(const std::wstring& path, const ResourceBytes& bytes) {
    DWORD error = 0;
    unique_hfile file = OpenExistingFile(path, GENERIC_READ, FILE_SHARE_READ, FILE_ATTRIBUTE_NORMAL, error);
    if (!file)
        FailOwnFile(path, error);
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

// A file being written, made new under its name (whatever held the name is removed first) with the
// package files' rights: closed, and removed unless kept, when it goes out of scope, so that a write
// that fails leaves no partial file behind. Files written before it stay, as after any other failed
// extraction.
class NewFile {
  public:
    explicit NewFile(const std::wstring& path) : m_path(path) {
        static SecurityAttributes rights(PackageFileSddl); // made once: it is the same for every file
        m_file = ReplaceWithNewFile(path, GENERIC_READ | GENERIC_WRITE, 0, FILE_ATTRIBUTE_NORMAL,
                                    rights.Get(), m_error);
    }
    ~NewFile() {
        m_file.reset();
        if (!m_kept)
            DeleteFileW(m_path.c_str());
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    HANDLE get() const { return m_file.get(); }
    DWORD error() const { return m_error; }
    void Keep() { m_kept = true; }

  private:
    const std::wstring& m_path;
    unique_hfile m_file;
    DWORD m_error = 0;
    bool m_kept = false;
};

void WriteFileFromBytes(const std::wstring& path, const ResourceBytes& bytes) {
    NewFile file(path);
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.Keep(); // it was never made
        FailOwnFile(path, file.error());
    }
    // Straight from where the loaded module holds them into the file: one copy, no buffer of ours, and
    // a failure (a full disk, a failing device, the program's own pages unreadable) comes back as an
    // error. Pieces of at most 8 MiB, which every Windows writes to every device in one call.
    const BYTE* next = static_cast<const BYTE*>(bytes.data);
    for (DWORD left = bytes.size; left > 0;) {
        const DWORD piece = std::min<DWORD>(left, WritePiece);
        DWORD written = 0;
        if (!CurrentPlatform().WriteToFile(file.get(), next, piece, &written) || written != piece) {
            const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
            if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL)
                FailWriting(path, L"the disk has no room for it", error);
            FailWriting(path, L"writing it failed: the device failed or the program could not be read",
                        error);
        }
        next += piece;
        left -= piece;
    }
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

// Esc during extraction: the files this run wrote go again (their names were cleaned before).
[[noreturn]] void RemoveCancelledFiles(SetupContext& context) {
    DeleteExistingFiles(context); // releases the held files first
    throw RunCancelled();
}
} // namespace

unique_hfile ExtractResourceFile(HMODULE module, WORD id, const std::wstring& path) {
    WriteResourceFile(module, id, path);
    return HoldResourceFile(module, id, path);
}

void WriteResourceFile(HMODULE module, WORD id, const std::wstring& path) {
    WriteFileFromBytes(path, LoadPayload(module, id));
}

unique_hfile HoldResourceFile(HMODULE module, WORD id, const std::wstring& path) {
    return HoldUnchanged(path, LoadPayload(module, id));
}

void ExtractInstallationFiles(SetupContext& context) {
    context.PostStatus(L"Extracting the installation...");
    const std::wstring directory = PackageFolder(context);
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
        if (context.Cancelled())
            RemoveCancelledFiles(context);
        context.HoldPackageFile(
            ExtractResourceFile(module, file.resourceId, CombinePath(directory, file.name)));
    }
    // An Esc during the last file is still in time; from here on the installer cannot be abandoned.
    if (!context.EnterStage(RunStage::Installing))
        RemoveCancelledFiles(context);
}

void DeleteExistingFiles(SetupContext& context) {
    context.PostDetail(L"Deleting existing files");
    context.ReleasePackageFiles();
    const std::wstring directory = PackageFolder(context);
    for (const PayloadFile& file : PayloadCatalogue)
        DeleteFileW(CombinePath(directory, file.name).c_str());
}
