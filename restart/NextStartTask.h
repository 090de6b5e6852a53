#pragma once
// The task that starts a program once at the next start of Windows, as Local System, also on
// battery. It does not remove itself: a boot trigger fires at every start, and the program it starts
// decides when its work is done (it may need another start), then removes the task.
#include "platform/Platform.h"

#include <string>

// Its name in Task Scheduler's root folder (a 1.0 task is the file <name>.job in the Tasks folder).
constexpr wchar_t NextStartTaskName[] = L"Velomar HD Firmware Update verification";

// 2.0 on Windows Vista (6.0) and later, 1.0 before. Chosen by the version, not by which COM class
// answers: Vista and later keep 1.0 for old callers, but only 2.0 stores a boot task with its
// principal and battery settings as they are meant.
TaskSchedulerVersion NextStartTaskScheduler();

// Registers (or replaces) the task to start program with arguments: S_OK, or why not.
HRESULT RegisterNextStartTask(const std::wstring& program, const std::wstring& arguments);
// S_OK where the task exists, S_FALSE where it does not, or why it could not be asked.
HRESULT FindNextStartTask();
// S_OK when it was removed, S_FALSE where there was none, or why not.
HRESULT RemoveNextStartTask();
