// Extraction of the six package files with the program's ExtractResourceFile (writing each, checking it
// and holding it, all six held until the last is done), from this program's own resources, against plain
// copies of the same bytes in the same run: WriteFile of the resource bytes and CopyFileW of the extracted
// files. The extraction's two halves (the write; the check and the hold) are timed apart as well. Memory:
// each method runs once in a fresh child process, which reports how far its peak working set and its pagefile
// (private) usage rose, per byte written. A third method, which copies the bytes through a heap buffer first,
// shows that the measure sees a buffer.
//
// Usage: bench_extraction [rounds] [scratch folder]
//        bench_extraction --memory extract|write|buffer FOLDER RESULT-FILE   (the child's mode)
#include "package/PayloadExtraction.h"
#include "report/SetupException.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
struct Payload {
    const wchar_t* name;
    WORD id;
    const void* data;
    DWORD size;
};

std::vector<Payload> FindPayloads() {
    HMODULE module = GetModuleHandleW(nullptr);
    std::vector<Payload> payloads;
    for (const PayloadFile& file : PayloadCatalogue) {
        HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(file.resourceId), MAKEINTRESOURCEW(10));
        HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
        if (loaded == nullptr) {
            std::fprintf(stderr, "resource %u is missing\n", file.resourceId);
            std::exit(1);
        }
        payloads.push_back(
            {file.name, file.resourceId, LockResource(loaded), SizeofResource(module, resource)});
    }
    return payloads;
}

std::wstring PathOf(const std::wstring& folder, const Payload& payload) {
    return folder + L"\\" + payload.name;
}

unsigned long long TotalBytes(const std::vector<Payload>& payloads) {
    unsigned long long total = 0;
    for (const Payload& payload : payloads)
        total += payload.size;
    return total;
}

// The files stay held until the returned handles go.
std::vector<unique_hfile> Extract(const std::vector<Payload>& payloads, const std::wstring& folder) {
    std::vector<unique_hfile> held;
    for (const Payload& payload : payloads)
        held.push_back(ExtractResourceFile(GetModuleHandleW(nullptr), payload.id, PathOf(folder, payload)));
    return held;
}

void WriteHalf(const std::vector<Payload>& payloads, const std::wstring& folder) {
    for (const Payload& payload : payloads)
        WriteResourceFile(GetModuleHandleW(nullptr), payload.id, PathOf(folder, payload));
}

std::vector<unique_hfile> HoldHalf(const std::vector<Payload>& payloads, const std::wstring& folder) {
    std::vector<unique_hfile> held;
    for (const Payload& payload : payloads)
        held.push_back(HoldResourceFile(GetModuleHandleW(nullptr), payload.id, PathOf(folder, payload)));
    return held;
}

bool WriteBytes(const std::wstring& path, const void* data, DWORD size) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data, size, &written, nullptr) && written == size;
    return CloseHandle(file) && ok;
}

void Write(const std::vector<Payload>& payloads, const std::wstring& folder) {
    for (const Payload& payload : payloads)
        if (!WriteBytes(PathOf(folder, payload), payload.data, payload.size))
            throw SetupException(L"WriteFile failed", GetLastError(), 1);
}

// The control: a private copy of each file's bytes before writing it.
void WriteThroughBuffer(const std::vector<Payload>& payloads, const std::wstring& folder) {
    for (const Payload& payload : payloads) {
        std::vector<char> buffer(static_cast<const char*>(payload.data),
                                 static_cast<const char*>(payload.data) + payload.size);
        if (!WriteBytes(PathOf(folder, payload), buffer.data(), payload.size))
            throw SetupException(L"WriteFile failed", GetLastError(), 1);
    }
}

void Copy(const std::vector<Payload>& payloads, const std::wstring& from, const std::wstring& to) {
    for (const Payload& payload : payloads)
        if (!CopyFileW(PathOf(from, payload).c_str(), PathOf(to, payload).c_str(), FALSE))
            throw SetupException(L"CopyFileW failed", GetLastError(), 1);
}

void DeleteAll(const std::vector<Payload>& payloads, const std::wstring& folder) {
    for (const Payload& payload : payloads)
        DeleteFileW(PathOf(folder, payload).c_str());
}

// The file holds exactly the resource's bytes.
bool SameBytes(const std::wstring& path, const Payload& payload) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<char> bytes(payload.size + 1);
    DWORD read = 0;
    bool ok = ReadFile(file, bytes.data(), payload.size + 1, &read, nullptr) && read == payload.size &&
              std::memcmp(bytes.data(), payload.data, payload.size) == 0;
    CloseHandle(file);
    return ok;
}

bool AllSame(const std::vector<Payload>& payloads, const std::wstring& folder, const char* what) {
    for (const Payload& payload : payloads)
        if (!SameBytes(PathOf(folder, payload), payload)) {
            std::fprintf(stderr, "%s: %ls does not hold the resource's bytes\n", what, payload.name);
            return false;
        }
    return true;
}

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

PROCESS_MEMORY_COUNTERS Memory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

// Child mode: one pass of one method, then the rise of the peak working set and of the pagefile usage.
int MeasureMemory(const std::wstring& method, const std::wstring& folder, const std::wstring& result) {
    std::vector<Payload> payloads = FindPayloads();
    PROCESS_MEMORY_COUNTERS before = Memory();
    std::vector<unique_hfile> held; // until the measure is taken
    if (method == L"extract")
        held = Extract(payloads, folder);
    else if (method == L"write")
        Write(payloads, folder);
    else
        WriteThroughBuffer(payloads, folder);
    PROCESS_MEMORY_COUNTERS after = Memory();
    if (!AllSame(payloads, folder, "memory pass"))
        return 1;
    FILE* out = _wfopen(result.c_str(), L"w");
    if (out == nullptr)
        return 1;
    std::fprintf(out, "%llu %llu %llu %llu\n", static_cast<unsigned long long>(after.PeakWorkingSetSize),
                 static_cast<unsigned long long>(before.PeakWorkingSetSize),
                 static_cast<unsigned long long>(after.PeakPagefileUsage),
                 static_cast<unsigned long long>(before.PeakPagefileUsage));
    std::fclose(out);
    held.clear();
    DeleteAll(payloads, folder);
    return 0;
}

struct Rise {
    double workingSet;
    double pagefile;
};

bool RunMemoryChild(const wchar_t* method, const std::wstring& folder, Rise* rise) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring result = folder + L"\\memory.txt";
    std::wstring command =
        L"\"" + std::wstring(self) + L"\" --memory " + method + L" \"" + folder + L"\" \"" + result + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    unsigned long long ws = 0, ws0 = 0, pf = 0, pf0 = 0;
    FILE* in = _wfopen(result.c_str(), L"r");
    bool ok = code == 0 && in != nullptr && std::fscanf(in, "%llu %llu %llu %llu", &ws, &ws0, &pf, &pf0) == 4;
    if (in != nullptr)
        std::fclose(in);
    DeleteFileW(result.c_str());
    const double bytes = static_cast<double>(TotalBytes(FindPayloads()));
    *rise = {(static_cast<double>(ws) - static_cast<double>(ws0)) / bytes,
             (static_cast<double>(pf) - static_cast<double>(pf0)) / bytes};
    return ok;
}

std::wstring DefaultScratch() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"tarnwick-bench";
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wstring(argv[1]) == L"--memory")
        return MeasureMemory(argv[2], argv[3], argv[4]);
    const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 5;
    const std::wstring scratch = argc > 2 ? argv[2] : DefaultScratch();
    const std::wstring extracted = scratch + L"\\extracted", written = scratch + L"\\written",
                       copied = scratch + L"\\copied", halves = scratch + L"\\halves";
    const std::vector<std::wstring> folders = {extracted, written, copied, halves};
    for (const std::wstring& folder : {scratch, extracted, written, copied, halves})
        CreateDirectoryW(folder.c_str(), nullptr);

    const std::vector<Payload> payloads = FindPayloads();
    const double megabytes = static_cast<double>(TotalBytes(payloads)) / (1024.0 * 1024.0);
    std::vector<double> extractTimes, writeTimes, copyTimes, writeHalfTimes, holdHalfTimes;
    try {
        // Round 0 warms the caches and is not counted; the methods take turns at going first.
        for (int round = 0; round <= rounds; ++round) {
            for (const std::wstring& folder : folders)
                DeleteAll(payloads, folder);
            double extractTime = 0, writeTime = 0;
            std::vector<unique_hfile> held;
            for (int turn = 0; turn < 2; ++turn) {
                double start = Now();
                if ((turn + round) % 2 == 0) {
                    held = Extract(payloads, extracted);
                    extractTime = Now() - start;
                } else {
                    Write(payloads, written);
                    writeTime = Now() - start;
                }
            }
            double start = Now();
            Copy(payloads, extracted, copied);
            const double copyTime = Now() - start;
            held.clear();
            start = Now();
            WriteHalf(payloads, halves);
            const double writeHalfTime = Now() - start;
            start = Now();
            held = HoldHalf(payloads, halves);
            const double holdHalfTime = Now() - start;
            held.clear();
            if (!AllSame(payloads, extracted, "extraction") || !AllSame(payloads, written, "WriteFile") ||
                !AllSame(payloads, copied, "CopyFileW") || !AllSame(payloads, halves, "halves"))
                return 1;
            if (round > 0) {
                extractTimes.push_back(extractTime);
                writeTimes.push_back(writeTime);
                copyTimes.push_back(copyTime);
                writeHalfTimes.push_back(writeHalfTime);
                holdHalfTimes.push_back(holdHalfTime);
            }
        }
    } catch (const SetupException& failure) {
        std::fprintf(stderr, "failed: %ls (%d)\n", failure.Message.c_str(), failure.Code);
        return 1;
    }
    for (const std::wstring& folder : folders)
        DeleteAll(payloads, folder);

    Rise extract, write, buffer;
    if (!RunMemoryChild(L"extract", extracted, &extract) || !RunMemoryChild(L"write", written, &write) ||
        !RunMemoryChild(L"buffer", copied, &buffer)) {
        std::fprintf(stderr, "a memory pass failed\n");
        return 1;
    }
    for (const std::wstring& folder : folders)
        RemoveDirectoryW(folder.c_str());
    RemoveDirectoryW(scratch.c_str());

    std::printf("Extraction of the package: %d rounds of %.1f MiB in 6 files, medians compared\n", rounds,
                megabytes);
    std::printf("  %-44s %8.2f\n", "extraction / CopyFileW of the extracted files",
                Median(extractTimes) / Median(copyTimes));
    std::printf("  %-44s %8.2f\n", "extraction / WriteFile of the same bytes",
                Median(extractTimes) / Median(writeTimes));
    std::printf("  %-44s %8.2f\n", "its write / CopyFileW", Median(writeHalfTimes) / Median(copyTimes));
    std::printf("  %-44s %8.2f\n", "its check and hold / CopyFileW",
                Median(holdHalfTimes) / Median(copyTimes));
    std::printf("  %-44s %8.1f %8.1f %8.1f %8.1f\n", "medians in ms: extraction, write, check+hold, copy",
                Median(extractTimes) * 1000, Median(writeHalfTimes) * 1000, Median(holdHalfTimes) * 1000,
                Median(copyTimes) * 1000);
    std::printf("  %-44s %8s %8s\n", "rise per byte written (fresh process)", "peak WS", "pagefile");
    std::printf("  %-44s %8.2f %8.2f\n", "extraction (ExtractResourceFile)", extract.workingSet,
                extract.pagefile);
    std::printf("  %-44s %8.2f %8.2f\n", "WriteFile of the resource bytes", write.workingSet, write.pagefile);
    std::printf("  %-44s %8.2f %8.2f\n", "control: through a heap buffer", buffer.workingSet,
                buffer.pagefile);
    if (buffer.pagefile < 0.5)
        std::printf(
            "  note: the pagefile usage did not rise for the heap-buffer control either: this system\n"
            "  does not count private memory there, so that column tells nothing here.\n");
    return 0;
}
