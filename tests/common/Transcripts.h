#pragma once
// What whole runs report, written once for the unit and the system tests.
//
// A transcript is a run's lines in order, each as the unit tests' sink records a post: "S text" (a
// status line), "D text" (a detail line), "F code isError text" (the failure; its log entry is
// "Exception: text"), "OK" (the success; not logged), and "L text" for an entry only the log holds.
#include <string>
#include <vector>

using Lines = std::vector<std::wstring>;

// The fake WMI provider's scenario for these runs: an unsupported drive at position 0, a supported
// one at position 1, and a disk 0 that boots through the legacy loader.
extern const wchar_t SupportedDriveScenario[];

// A successful run on Windows 6.1 over that scenario in directory; restart: with the "r" switch.
Lines SuccessfulRun(const std::wstring& directory, bool restart = false);
// The countdown's detail texts, from 15 seconds down to 01.
Lines CountdownLines();
// What the restart reports: its status line, then the countdown.
Lines RestartLines();

// Runs that fail a check of the same machine.
Lines NotAdministratorRun();
Lines OldWindowsRun(const std::wstring& version);
Lines NotOnAcPowerRun();
// The drive step reports driveStep after its status line and fails.
Lines DriveStepRun(const Lines& driveStep);
// The drive step finds no drive at all.
Lines NoDriveRun();

// The lines of run up to and including line, followed by then.
Lines Until(const Lines& run, const std::wstring& line, const Lines& then = {});
// The lines of run after line; none when run lacks it.
Lines After(const Lines& run, const std::wstring& line);

// What a visible run posts: every line but the log's own.
Lines Posted(const Lines& run);
// The log's entries while the run's log is still open.
Lines LogOf(const Lines& run);
