#include "package/PackageFolder.h"

#include "platform/PackageFolder.h"
#include "platform/WorkingDirectory.h"
#include "report/SetupContext.h"
#include "report/SetupException.h"

const std::wstring& PackageFolder(SetupContext& context) {
    std::unique_ptr<PackageFolderChoice>& chosen = context.m_packageFolder;
    if (!chosen) {
        chosen.reset(new PackageFolderChoice(ChoosePackageFolder(GetWorkingDirectory())));
        if (!chosen->path.empty() && !chosen->whyPrivate.empty())
            context.WriteLog(L"The package is written to and run from " + chosen->path +
                             L", since others may add files to the working directory: " + chosen->whyPrivate);
    }
    if (chosen->path.empty())
        throw SetupException(chosen->failure, ERROR_INVALID_HANDLE, 1); // 6, as every extraction failure
    return chosen->path;
}
