// Stand-in for the update package's installer. Run as "Setup.exe -s" in the folder that holds the
// package, it checks Setup.ini, the boot files and the disk image there and exits with the
// installer's code for the first fault it finds, or 0. It shows no window and changes nothing: no
// boot configuration, no file but the optional run record below.
//
// Exit codes: 0 all well; 3 Setup.ini missing or invalid; 4 a boot file or the image missing,
// unreadable, of the wrong size or without its signature; 7 the image's MBR, partition entry or
// FAT16 boot sector is wrong; 10 the image's sector size is not 512; 11 the image's CRC-32 differs
// from the one stored in VirtFlpy.bin (bytes 16 to 19, little-endian); 16 no "-s" argument or an
// unknown control.
//
// For tests, the environment variable TARNWICK_STANDIN_SETUP controls a run:
//   exit:N    exit at once with N (decimal, or hexadecimal after 0x)
//   hang      sleep until killed
//   crash     an access violation (exit code C0000005h)
//   sleep:MS  wait MS milliseconds (decimal or 0x), then check as usual
// If TARNWICK_STANDIN_RECORD names a file, each run appends one UTF-8 line to it: the command line,
// a tab, the current directory, a tab, the exit code in decimal ("hang" when it hangs), LF.
//
// Plain Win32, built without exceptions and without the C++ library: the library's exception
// support links winpthread, which imports functions that Windows 2000 and XP lack.
#include "StandinMark.h"

#include <windows.h>

#include <shellapi.h>

namespace {

enum : DWORD {
    kOk = 0,
    kIniInvalid = 3,
    kCopyFailed = 4,
    kImageInvalid = 7,
    kSectorSizeInvalid = 10,
    kCrcFailed = 11,
    kUnknownError = 16,
};

const DWORD kSector = 512;
const DWORD kImageSectors = 63488;
const DWORD kPartitionStart = 2048;
const DWORD kPartitionSectors = 61440;
const DWORD kLoaderSize = 21602;
const DWORD kCrcOffset = 16;
const DWORD kMaxIniChars = 32768;

bool GetEnv(const wchar_t* name, wchar_t* value, DWORD size) {
    DWORD n = GetEnvironmentVariableW(name, value, size);
    return n > 0 && n < size;
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    while (*prefix)
        if (*text++ != *prefix++)
            return false;
    return true;
}

// Appends "command line TAB current directory TAB outcome LF" to the record file, if one is named.
void Record(const wchar_t* outcome) {
    wchar_t path[MAX_PATH * 2];
    if (!GetEnv(L"TARNWICK_STANDIN_RECORD", path, MAX_PATH * 2))
        return;
    wchar_t dir[MAX_PATH * 2] = L"";
    GetCurrentDirectoryW(MAX_PATH * 2, dir);
    const wchar_t* parts[] = {GetCommandLineW(), L"\t", dir, L"\t", outcome, L"\n"};
    HANDLE h = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    int chars = 0;
    for (const wchar_t* part : parts)
        chars += lstrlenW(part);
    wchar_t* line = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (chars + 1) * sizeof(wchar_t)));
    char* utf8 = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, chars * 3 + 1));
    if (line && utf8) {
        line[0] = L'\0';
        for (const wchar_t* part : parts)
            lstrcatW(line, part);
        int n = WideCharToMultiByte(CP_UTF8, 0, line, chars, utf8, chars * 3 + 1, nullptr, nullptr);
        DWORD written;
        WriteFile(h, utf8, DWORD(n), &written, nullptr);
    }
    HeapFree(GetProcessHeap(), 0, utf8);
    HeapFree(GetProcessHeap(), 0, line);
    CloseHandle(h);
}

DWORD Finish(DWORD code) {
    wchar_t text[16];
    wsprintfW(text, L"%lu", code);
    Record(text);
    return code;
}

// Ends the process with the exception's code, as an unhandled exception does, but without offering
// a debugger or an error report.
LONG WINAPI EndQuietly(EXCEPTION_POINTERS*) {
    return EXCEPTION_EXECUTE_HANDLER;
}

// A whole unsigned 32-bit number, decimal or hexadecimal after "0x".
bool ParseNumber(const wchar_t* text, DWORD& value) {
    bool hex = StartsWith(text, L"0x") || StartsWith(text, L"0X");
    if (hex)
        text += 2;
    if (!*text)
        return false;
    unsigned long long n = 0;
    for (; *text; ++text) {
        wchar_t c = *text;
        int digit = c >= L'0' && c <= L'9'          ? c - L'0'
                    : hex && c >= L'a' && c <= L'f' ? c - L'a' + 10
                    : hex && c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                    : -1;
        if (digit < 0)
            return false;
        n = n * (hex ? 16 : 10) + digit;
        if (n > 0xFFFFFFFFull)
            return false;
    }
    value = DWORD(n);
    return true;
}

bool HasSilentSwitch() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return false;
    bool silent = false;
    for (int i = 1; i < argc; ++i)
        silent = silent || lstrcmpiW(argv[i], L"-s") == 0 || lstrcmpiW(argv[i], L"/s") == 0;
    LocalFree(argv);
    return silent;
}

class File {
  public:
    explicit File(const wchar_t* name)
        : m_h(CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr)) {}
    ~File() {
        if (IsOpen())
            CloseHandle(m_h);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return m_h != INVALID_HANDLE_VALUE; }

    // The file's size, or ~0 when it cannot be had.
    unsigned long long Size() const {
        DWORD high = 0;
        DWORD low = GetFileSize(m_h, &high);
        if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
            return ~0ull;
        return (unsigned long long)high << 32 | low;
    }

    bool Seek(unsigned long long offset) {
        LONG high = LONG(offset >> 32);
        SetLastError(NO_ERROR);
        return SetFilePointer(m_h, LONG(offset), &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER ||
               GetLastError() == NO_ERROR;
    }

    // Reads exactly count bytes from the current position.
    bool Read(void* buffer, DWORD count) {
        DWORD read = 0;
        return ReadFile(m_h, buffer, count, &read, nullptr) && read == count;
    }

    bool Read(unsigned long long offset, void* buffer, DWORD count) {
        return Seek(offset) && Read(buffer, count);
    }

  private:
    HANDLE m_h;
};

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// Trims blanks from both ends of [begin, end) and ends the text there.
wchar_t* Trim(wchar_t* begin, wchar_t* end) {
    while (begin < end && IsBlank(*begin))
        ++begin;
    while (end > begin && IsBlank(end[-1]))
        --end;
    *end = L'\0';
    return begin;
}

// Reads Setup.ini (UTF-16LE with byte-order mark; "/*" starts a comment line; "[section]" and
// "key=value" lines, names matched regardless of case) and gives the value of VistaImageFile in
// [Setup]. The Yes/No settings have defaults and the additional files are optional, so neither
// can make the file invalid.
bool ReadSetupIni(wchar_t* image, int imageSize) {
    static wchar_t text[kMaxIniChars + 1];
    File ini(L"Setup.ini");
    unsigned long long size = ini.Size();
    if (!ini.IsOpen() || size < 2 || size % 2 != 0 || size > kMaxIniChars * 2)
        return false;
    DWORD chars = DWORD(size / 2);
    if (!ini.Read(0, text, DWORD(size)) || text[0] != 0xFEFF)
        return false;
    text[chars] = L'\0';

    bool inSection = false, inSetup = false;
    image[0] = L'\0';
    for (wchar_t* line = text + 1; line < text + chars;) {
        wchar_t* end = line;
        while (*end && *end != L'\n')
            ++end;
        wchar_t* next = end + 1;
        if (end > line && end[-1] == L'\r')
            --end;
        line = Trim(line, end);
        wchar_t* lineEnd = line + lstrlenW(line);
        if (*line == L'[') {
            if (lineEnd[-1] != L']')
                return false;
            wchar_t* name = Trim(line + 1, lineEnd - 1);
            if (!*name)
                return false;
            inSection = true;
            inSetup = lstrcmpiW(name, L"setup") == 0;
        } else if (*line && !StartsWith(line, L"/*")) {
            wchar_t* equals = line;
            while (*equals && *equals != L'=')
                ++equals;
            if (!inSection || !*equals || equals == line)
                return false;
            wchar_t* value = Trim(equals + 1, lineEnd);
            if (inSetup && lstrcmpiW(Trim(line, equals), L"VistaImageFile") == 0)
                lstrcpynW(image, value, imageSize);
        }
        line = next;
    }
    return image[0] != L'\0';
}

bool HasSignature(const unsigned char* bytes) {
    return bytes[4] == 'B' && bytes[5] == 'T' && bytes[6] == 'F' && bytes[7] == 'P' && bytes[8] == 'Y';
}

DWORD Get32(const unsigned char* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | DWORD(bytes[3]) << 24;
}

bool CheckLoadVF() {
    File file(L"LoadVF.bin");
    unsigned char sector[kSector];
    return file.IsOpen() && file.Size() == kSector && file.Read(0, sector, kSector) && HasSignature(sector) &&
           sector[510] == 0x55 && sector[511] == 0xAA;
}

bool CheckVirtFlpy(DWORD& crc) {
    File file(L"VirtFlpy.bin");
    unsigned char head[kCrcOffset + 4];
    if (!file.IsOpen() || file.Size() != kLoaderSize || !file.Read(0, head, sizeof head) ||
        !HasSignature(head))
        return false;
    crc = Get32(head + kCrcOffset);
    return true;
}

// The CRC-32 of zip and gzip over the whole image.
bool ComputeCrc(File& file, DWORD& crc) {
    DWORD table[256];
    for (DWORD i = 0; i < 256; ++i) {
        DWORD c = i;
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? 0xEDB88320 ^ c >> 1 : c >> 1;
        table[i] = c;
    }
    static unsigned char buffer[64 * 1024];
    if (!file.Seek(0))
        return false;
    crc = 0xFFFFFFFF;
    for (DWORD left = kImageSectors * kSector; left > 0;) {
        DWORD n = left < sizeof buffer ? left : sizeof buffer;
        if (!file.Read(buffer, n))
            return false;
        for (DWORD i = 0; i < n; ++i)
            crc = table[(crc ^ buffer[i]) & 0xFF] ^ crc >> 8;
        left -= n;
    }
    crc ^= 0xFFFFFFFF;
    return true;
}

DWORD CheckImage(const wchar_t* name, DWORD expectedCrc) {
    File image(name);
    if (!image.IsOpen())
        return kCopyFailed;
    if (image.Size() != (unsigned long long)kImageSectors * kSector)
        return kImageInvalid;

    unsigned char mbr[kSector];
    if (!image.Read(0, mbr, kSector))
        return kCopyFailed;
    const unsigned char* entry = mbr + 446;
    if (mbr[510] != 0x55 || mbr[511] != 0xAA || entry[0] != 0x80 || entry[4] != 0x06 ||
        Get32(entry + 8) != kPartitionStart || Get32(entry + 12) != kPartitionSectors)
        return kImageInvalid;
    for (int i = 1; i < 4; ++i)
        if (entry[16 * i + 4] != 0)
            return kImageInvalid;

    unsigned char boot[kSector];
    if (!image.Read((unsigned long long)kPartitionStart * kSector, boot, kSector))
        return kCopyFailed;
    const unsigned char fat16[] = "FAT16   ";
    for (int i = 0; i < 8; ++i)
        if (boot[54 + i] != fat16[i])
            return kImageInvalid;
    if (boot[510] != 0x55 || boot[511] != 0xAA)
        return kImageInvalid;
    if ((boot[11] | boot[12] << 8) != kSector)
        return kSectorSizeInvalid;

    DWORD crc = 0;
    if (!ComputeCrc(image, crc) || crc != expectedCrc)
        return kCrcFailed;
    return kOk;
}

DWORD CheckPackage() {
    wchar_t image[MAX_PATH];
    if (!ReadSetupIni(image, MAX_PATH))
        return kIniInvalid;
    DWORD crc = 0;
    if (!CheckLoadVF() || !CheckVirtFlpy(crc))
        return kCopyFailed;
    return CheckImage(image, crc);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t control[64] = L"";
    DWORD length = GetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", control, 64);
    if (length >= 64)
        return int(Finish(kUnknownError)); // too long to be one of the controls
    DWORD value = 0;
    if (lstrcmpW(control, L"hang") == 0) {
        Record(L"hang");
        for (;;)
            Sleep(INFINITE);
    }
    if (lstrcmpW(control, L"crash") == 0) {
        Record(L"3221225477");
        SetUnhandledExceptionFilter(EndQuietly);
        int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
    if (StartsWith(control, L"exit:"))
        return int(Finish(ParseNumber(control + 5, value) ? value : kUnknownError));
    if (StartsWith(control, L"sleep:")) {
        if (!ParseNumber(control + 6, value))
            return int(Finish(kUnknownError));
        Sleep(value);
    } else if (length > 0) {
        return int(Finish(kUnknownError));
    }

    if (!HasSilentSwitch())
        return int(Finish(kUnknownError));
    return int(Finish(CheckPackage()));
}
