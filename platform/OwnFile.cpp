#include "platform/OwnFile.h"

#include "platform/Platform.h"

namespace {
unique_hfile OpenChecked(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                         SECURITY_ATTRIBUTES* security, DWORD& error) {
    unique_hfile file(CreateFileW(path.c_str(), access, share, security, disposition,
                                  flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        error = GetLastError() != 0 ? GetLastError() : ERROR_OPEN_FAILED;
        return file;
    }
    error = CheckOwnFile(file.get());
    if (error != 0)
        file.reset();
    return file;
}
} // namespace

DWORD CheckOwnFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information = {};
    if (!CurrentPlatform().ReadFileInformation(file, &information))
        return GetLastError() != 0 ? GetLastError() : ERROR_INVALID_FUNCTION;
    if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        return OwnFileIsReparsePoint;
    if (information.nNumberOfLinks != 1)
        return OwnFileHasOtherNames;
    return 0;
}

unique_hfile CreateNewFile(const std::wstring& path, DWORD access, DWORD share, DWORD flags,
                           SECURITY_ATTRIBUTES* security, DWORD& error) {
    unique_hfile file = OpenChecked(path, access, share, CREATE_NEW, flags, security, error);
    if (!file && (error == OwnFileIsReparsePoint || error == OwnFileHasOtherNames))
        DeleteFileW(path.c_str()); // we made this name a moment ago; another name of the file stays
    return file;
}

unique_hfile ReplaceWithNewFile(const std::wstring& path, DWORD access, DWORD share, DWORD flags,
                                SECURITY_ATTRIBUTES* security, DWORD& error) {
    DeleteFileW(path.c_str());
    return CreateNewFile(path, access, share, flags, security, error);
}

unique_hfile OpenExistingFile(const std::wstring& path, DWORD access, DWORD share, DWORD flags,
                              DWORD& error) {
    return OpenChecked(path, access, share, OPEN_EXISTING, flags, nullptr, error);
}

DWORD WriteNewFile(const std::wstring& path, const void* bytes, DWORD size, SECURITY_ATTRIBUTES* security) {
    DWORD error = 0;
    unique_hfile file = ReplaceWithNewFile(path, GENERIC_WRITE, 0, 0, security, error);
    if (!file)
        return error;
    DWORD written = 0;
    if (WriteFile(file.get(), bytes, size, &written, nullptr) && written == size)
        return 0;
    error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    file.reset();
    DeleteFileW(path.c_str());
    return error;
}

std::wstring OwnFileRefusal(DWORD error) {
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return L"another file holds its name and cannot be removed";
    case OwnFileIsReparsePoint:
        return L"it is a link or a folder, not a file of its own";
    case OwnFileHasOtherNames:
        return L"it is a link to another file";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return L"another program holds it";
    default:
        return L"it could not be created";
    }
}
