#pragma once
// The history log: every run's entries appended to one file that outlives the working directory,
// by default Tarnwick.log in the common application-data folder (%ProgramData% on Windows Vista and
// later). UTF-8, one trace-log entry per line with time (UTC), severity and thread.
#include "core/TraceLog.h"
#include "platform/Lock.h"
#include "platform/Owned.h"

#include <windows.h>

#include <string>

// Past this size the log is renamed to its older generation (.lo_) as a run opens it.
constexpr DWORD MaxHistoryLogSize = 1024 * 1024;

class HistoryLog {
  public:
    // Opens path for appending, making its folders; returns 0 or the Windows error.
    DWORD Open(const std::wstring& path);
    void Close();
    // Appends one entry and writes it through; nothing when the log is not open.
    void Write(const std::wstring& text, Severity severity = Severity::Information);

  private:
    Lock m_lock;
    unique_hfile m_file;
};

// The process's history log (closed until the program opens it).
HistoryLog& History();

// The default place: <common application data>\Velomar\HD Firmware Update\Tarnwick.log; empty when
// that folder cannot be found.
std::wstring DefaultHistoryLogPath();
// The time now, in UTC.
UtcTime UtcNow();
