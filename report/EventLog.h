#pragma once
// Events for log collectors: the event source Tarnwick in the Application log, its message file (a
// resource-only DLL that the program carries) in a folder that only administrators may change, and
// one event per outcome (core/Events.h).
#include "core/Events.h"

#include <windows.h>

#include <string>

constexpr WORD EventMessagesResource = 110; // IDR_EVENT_MESSAGES, an RCDATA resource
constexpr wchar_t EventMessageFileName[] = L"TarnwickMessages.dll";
constexpr wchar_t EventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tarnwick";

// Writes the message file into folder as a new file of our own (platform/OwnFile.h), readable by
// everyone and changeable by administrators; an existing copy stays where its bytes are the same.
// The folder is made and held as the history's folders are (TrustedFolders): a link, or a folder that
// someone else owns, gets no message file. 0 or the Windows error.
DWORD WriteEventMessageFile(const std::wstring& folder);
// Registers the event source with messageFile (EventMessageFile, TypesSupported 7) in the
// registry's native view. 0 or the Windows error.
DWORD InstallEventSource(const std::wstring& messageFile);
// Writes the message file into folder and registers the source, then reports event through the
// platform, also where the first two failed (the viewer then shows its ID without the text). A run
// reports one event, so this is done once a run. 0, or the first Windows error.
DWORD ReportOutcomeEvent(const std::wstring& folder, const Event& event);

// Where the message file stays for good: the default history log's folder, whatever "l=" says.
std::wstring EventMessageFolder();
// A run's event (RunEventOutcome; none for passed checks) with its message file in
// EventMessageFolder; a failure is written to the history log as a warning and changes nothing else.
void ReportRunEvent(Outcome outcome, int32_t exitCode, const std::wstring& state, const std::wstring& result);
