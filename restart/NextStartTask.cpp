#include "restart/NextStartTask.h"

#include "core/TaskXml.h"

TaskSchedulerVersion NextStartTaskScheduler() {
    return ReadWindowsVersion().dwMajorVersion >= 6 ? TaskSchedulerVersion::V2 : TaskSchedulerVersion::V1;
}

HRESULT RegisterNextStartTask(const std::wstring& program, const std::wstring& arguments) {
    Platform& platform = CurrentPlatform();
    if (NextStartTaskScheduler() == TaskSchedulerVersion::V1)
        return platform.RegisterStartupTaskV1(NextStartTaskName, program.c_str(), arguments.c_str(),
                                              NextStartTaskMinutes * 60 * 1000);
    const std::wstring xml = NextStartTaskXml(
        L"Checks once after the restart whether the Velomar HD firmware update reached the drive.", program,
        arguments);
    return platform.RegisterTaskXml(NextStartTaskName, xml.c_str());
}

HRESULT FindNextStartTask() {
    return CurrentPlatform().FindTask(NextStartTaskScheduler(), NextStartTaskName);
}

HRESULT RemoveNextStartTask() {
    return CurrentPlatform().RemoveTask(NextStartTaskScheduler(), NextStartTaskName);
}
