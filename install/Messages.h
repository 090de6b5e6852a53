#pragma once
// Messages between the dialog and the worker. wParam is 0 in every one; each heap block that
// travels in lParam belongs to the receiver from the moment it is posted.
#include <windows.h>

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
