#pragma once
// Files of our own in folders that others may write to. A name is written only as a new file, and an
// existing file is used only when it is one of our own kind: opened without following a reparse
// point, it must be a plain file with exactly one name. A hard link to some other file, or a link
// planted in the file's place, is refused instead of being written through.
#include "platform/Owned.h"

#include <windows.h>

#include <string>

// Why an opened file is not one of our own: 0 when it is.
constexpr DWORD OwnFileIsReparsePoint = ERROR_CANT_ACCESS_FILE; // 1920
constexpr DWORD OwnFileHasOtherNames = ERROR_TOO_MANY_LINKS;    // 1142

// Creates path as a new file (CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT), then checks it. security may
// be null (the folder's inherited rights). On failure the handle is invalid and error says why:
// ERROR_FILE_EXISTS when the name is taken, or one of the OwnFile codes above.
unique_hfile CreateNewFile(const std::wstring& path, DWORD access, DWORD share, DWORD flags,
                           SECURITY_ATTRIBUTES* security, DWORD& error);
// Removes whatever holds path's name and creates it as a new file: a name still held by a file that
// cannot be removed fails with ERROR_FILE_EXISTS, and nothing is written into that file.
unique_hfile ReplaceWithNewFile(const std::wstring& path, DWORD access, DWORD share, DWORD flags,
                                SECURITY_ATTRIBUTES* security, DWORD& error);
// Opens an existing file (OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT) and checks it.
unique_hfile OpenExistingFile(const std::wstring& path, DWORD access, DWORD share, DWORD flags, DWORD& error);

// Writes size bytes as path's new file of our own (ReplaceWithNewFile): 0, or the Windows error, and then no
// file at all, never a half-written one.
DWORD WriteNewFile(const std::wstring& path, const void* bytes, DWORD size, SECURITY_ATTRIBUTES* security);

// 0 when file is a plain file with one name, else the OwnFile code (or the error reading it).
DWORD CheckOwnFile(HANDLE file);

// A short reason for the OwnFile codes and the usual errors, for messages: "a link to another file".
std::wstring OwnFileRefusal(DWORD error);
