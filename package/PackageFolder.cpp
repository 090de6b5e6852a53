#include "package/PackageFolder.h"

#include "platform/WorkingDirectory.h"

std::wstring PackageFolder() {
    return GetWorkingDirectory();
}
