#pragma once
// The history log: every run's entries appended to one file that outlives the working directory,
// by default Tarnwick.log in the common application-data folder (%ProgramData% on Windows Vista and
// later). UTF-8, one trace-log entry per line with time (UTC), severity and thread.
#include "core/TraceLog.h"
#include "platform/Lock.h"
#include "platform/Owned.h"
#include "platform/Security.h"

#include <windows.h>

#include <string>

// Past this size the log is renamed to its older generation (.lo_) as a run opens it.
constexpr DWORD MaxHistoryLogSize = 1024 * 1024;

class HistoryLog {
  public:
    // Opens path for appending, making its folders, and holds its folder while it is open (see
    // TrustedFolders::Hold; the folders below the common application-data folder are checked too). An
    // existing log is used, and rotated, only when it is a file of its own (OpenExistingFile); else a
    // new one is made. Returns 0 or the Windows error.
    DWORD Open(const std::wstring& path);
    void Close();
    // Why a folder or a log was refused since the program started (a link, an owner not trusted):
    // the folder or file and the reason; empty when none was.
    std::wstring Refusal() const { return m_refusal; }
    // Appends one entry and writes it through; nothing when the log is not open.
    void Write(const std::wstring& text, Severity severity = Severity::Information);

  private:
    DWORD OpenInTrustedFolder(const std::wstring& path);
    Lock m_lock;
    unique_hfile m_file;
    TrustedFolders m_folders;
    std::wstring m_refusal;
};

// The process's history log (closed until the program opens it).
HistoryLog& History();

// The default place: <common application data>\Velomar\HD Firmware Update\Tarnwick.log; empty when
// that folder cannot be found.
std::wstring DefaultHistoryLogPath();
// The time now, in UTC.
UtcTime UtcNow();
