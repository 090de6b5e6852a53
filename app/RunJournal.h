#pragma once
// What a run leaves for administrators once the deployment tool has deleted its working directory:
// the history log's header and end, and the result record in the registry.
#include "ui/CommandLine.h"
#include "ui/TarnwickDlg.h"

#include <string>

class RunJournal {
  public:
    // Opens the history log (the "l=" file, or the default place) and writes the run's header; an
    // installing run marks the record "Running", which a run that is killed leaves standing.
    explicit RunJournal(const CommandLine& commandLine);
    // Writes the outcome to the record and the exit code to the history log, and closes it.
    void End(int exitCode, TarnwickDlg::RunState state);

  private:
    // The outcome as End writes it, without closing: also called just before Windows is asked to
    // restart (with the exit code of a restart that goes ahead, and 3010 after a refusal).
    void Note(int exitCode, TarnwickDlg::RunState state);

    bool m_checkOnly;
    bool m_notedEnd = false;
    int m_notedExitCode = 0;
};

// The record's State for an installing run's outcome: Installed, NotApplicable, Failed or Cancelled.
const wchar_t* RecordedState(int exitCode, TarnwickDlg::RunState state);
