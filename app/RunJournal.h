#pragma once
// What a run leaves for administrators once the deployment tool has deleted its working directory:
// the history log's header and end, and the result record in the registry.
#include "core/Outcomes.h"
#include "ui/CommandLine.h"
#include "ui/TarnwickDlg.h"

#include <string>

class RunJournal {
  public:
    // Opens the history log (the "l=" file, or the default place) and writes the run's header.
    explicit RunJournal(const CommandLine& commandLine);
    // The run goes ahead: an installing run marks the record "Running", which a run that is killed
    // leaves standing. lockAbandoned: the run before ended without releasing the run lock.
    void Begin(bool lockAbandoned);
    // Another run holds the run lock (lockError 0) or it could not be taken: says so and ends the
    // history with 1618, leaving the record as it is.
    void EndBusy(DWORD lockError);
    // Writes the outcome to the record and the exit code to the history log, and closes it.
    void End(int exitCode, TarnwickDlg::RunState state);

    bool CheckOnly() const { return m_checkOnly; }
    const std::wstring& Switches() const { return m_switches; }

  private:
    // The outcome as End writes it, without closing: also called just before Windows is asked to
    // restart (with the exit code of a restart that goes ahead, and 3010 after a refusal).
    void Note(int exitCode, TarnwickDlg::RunState state);

    bool m_checkOnly;
    std::wstring m_switches;
    bool m_notedEnd = false;
    int m_notedExitCode = 0;
};

// The outcome of an installing run that ended with exitCode in state.
Outcome InstallOutcome(int exitCode, TarnwickDlg::RunState state);
// The record's State for an installing run's outcome: Installed, NotApplicable, Failed or Cancelled.
const wchar_t* RecordedState(int exitCode, TarnwickDlg::RunState state);
