#pragma once
// What every step of the installation reports through: the status and detail lines that the dialog
// shows, the failure record, and the installer log in the working directory (each of whose entries
// also goes to the history log). The worker thread is
// this context for the steps it runs.
#include "platform/Owned.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct PackageFolderChoice;

constexpr wchar_t LogFileName[] = L"VelomarHDDInstallerLog.txt";
// The pause after each status and detail line of a visible run, so that it can be read.
constexpr DWORD StatusPause = 800;

// Where the run stands, for Esc: it abandons the checks, the extraction (the files written are
// removed) and the "r" countdown, never the installer or the restart itself.
enum class RunStage : LONG { Checking, Extracting, Installing, CountingDown, Restarting, Cancelled };

class SetupContext {
  public:
    // Holds the working directory and opens a fresh log in it.
    SetupContext();
    virtual ~SetupContext();
    SetupContext(const SetupContext&) = delete;
    SetupContext& operator=(const SetupContext&) = delete;

    void PostStatus(std::wstring text);
    void PostDetail(std::wstring text);
    void ReportError(std::wstring message, int32_t code, BYTE isError);
    void WriteLog(std::wstring text);

    // The worker moves on to stage; false when Esc has cancelled the run first.
    bool EnterStage(RunStage stage);
    // Esc (the dialog's thread): cancels the run where it can be abandoned; returns the stage found.
    RunStage Cancel();
    bool Cancelled() const { return m_stage == static_cast<LONG>(RunStage::Cancelled); }

    // The package files, each held open from its extraction until just before it is deleted or the
    // run ends, so that nobody can change, replace or delete it while the installer may use it.
    void HoldPackageFile(unique_hfile file);
    void ReleasePackageFiles();

    HWND m_hDialog = nullptr;
    unique_hfile m_logFile;
    BOOL m_bLogOpen = FALSE;
    BOOL m_bReboot = FALSE;
    BOOL m_bSilent = FALSE;
    BOOL m_bCheckOnly = FALSE; // the checks alone: nothing is extracted, run or restarted
    std::vector<unique_hfile> m_packageFiles;
    // The working directory, held for the whole run so that it cannot be renamed or replaced.
    unique_hfile m_workingDirectory;
    // Where this run's package goes, chosen once; its folders are held until the run ends.
    std::unique_ptr<PackageFolderChoice> m_packageFolder;

  private:
    volatile LONG m_stage = static_cast<LONG>(RunStage::Checking);
    void WriteLogEntry(std::wstring text, bool isError);
    void OpenLog();
    void CloseLog();
    void PostLine(UINT message, std::wstring text);
};
