#pragma once
// Messages between the dialog and the worker. wParam is 0 in every one; each heap block that
// travels in lParam belongs to the receiver from the moment it is posted.
#include <windows.h>

#include <memory>

// Dialog to worker (thread message); lParam: new HWND holding the dialog's window.
constexpr UINT WM_SETUP_START = WM_APP + 1;
// Worker to dialog; lParam: new std::wstring with the line.
constexpr UINT WM_SETUP_STATUS = WM_APP + 3;
constexpr UINT WM_SETUP_DETAIL = WM_APP + 4;
// Worker to dialog; lParam: new SetupException, the failure record.
constexpr UINT WM_SETUP_FAILED = WM_APP + 5;
// Not posted by the run; lParam 0.
constexpr UINT WM_SETUP_HIDE = WM_APP + 6;
constexpr UINT WM_SETUP_SHOW = WM_APP + 7;
// Worker to dialog; lParam 0.
constexpr UINT WM_SETUP_SUCCEEDED = WM_APP + 8;
// Worker to dialog; lParam 0: Esc stopped the extraction, and the files written are removed.
constexpr UINT WM_SETUP_CANCELLED = WM_APP + 9;

// Another program can post these message numbers to the dialog's window too. The dialog acts only
// on what the worker registered here as it posted it, and takes each registration once: a made-up
// pointer, a record handled already or an outcome the worker has not reached is ignored (and freed
// by nobody).
// False when too many records wait unhandled: the record is then not to be posted.
bool RegisterPosted(const void* record);
// True, and the registration gone, when record was registered.
bool TakePosted(const void* record);

// Posts a heap record to the dialog; from then on it is the dialog's. A record that cannot be
// posted (no window, a full queue) is freed here.
template <typename Record> void PostRecord(HWND dialog, UINT message, std::unique_ptr<Record> record) {
    if (dialog == nullptr || !RegisterPosted(record.get()))
        return;
    if (PostMessageW(dialog, message, 0, reinterpret_cast<LPARAM>(record.get())))
        record.release();
    else
        TakePosted(record.get());
}

// The dialog's side: the record a message carries, or null when the worker did not post it.
template <typename Record> std::unique_ptr<Record> TakeRecord(LPARAM lParam) {
    auto* record = reinterpret_cast<Record*>(lParam);
    return std::unique_ptr<Record>(TakePosted(record) ? record : nullptr);
}

// WM_SETUP_SUCCEEDED carries nothing; the worker registers the end of its sequence before posting it.
void PostSucceeded(HWND dialog);
bool RegisterSucceeded();
bool TakeSucceeded();
// WM_SETUP_CANCELLED likewise.
void PostCancelled(HWND dialog);
bool TakeCancelled();
