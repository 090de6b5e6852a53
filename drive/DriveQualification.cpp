#include "drive/DriveQualification.h"

#include "core/Outcomes.h"
#include "drive/WMIConnection.h"
#include "report/ResultRecord.h"
#include "report/SetupContext.h"

namespace {
// Reads the inventory; raises HDWMIException.
void GatherDrives() {
    WMIConnection connection;
    if (!connection.Open())
        throw HDWMIException(L"An error occurred connecting to WMI.");
    DriveCount = QueryDriveModels(connection);
    if (DriveCount >= 1) {
        QueryDriveFirmwareRevisions(connection);
        QueryDrivePNPDeviceIDs(connection);
    }
    connection.Close();
}
} // namespace

bool CheckHardDriveModel(SetupContext& context) {
    for (int position = 0; position < MaxDrivePositions; ++position) {
        DriveModels[position].clear();
        DriveFirmwareRevisions[position].clear();
        DrivePNPDeviceIDs[position].clear();
        DriveSerialNumbers[position].clear();
    }
    std::wstring currentModel;
    try {
        GatherDrives();
    } catch (const HDWMIException& e) {
        context.ReportError(L"An error occurred while checking the hard drive model. " + e.Message,
                            ExitCode(Outcome::DrivesNotQueried), 1);
        return false;
    }
    for (int position = 0; position < DriveCount; ++position)
        NormalizedDriveModels[position] = NormalizeModelNumber(DriveModels[position]);

    for (int position = 0; position < DriveCount; ++position) {
        context.WriteLog(L"Checking drive position " + std::to_wstring(position) + L" with model number = '" +
                         DriveModels[position] + L"'");
        currentModel = NormalizedDriveModels[position];
        if (FindSupportedModel(currentModel) >= 0) {
            NoteSupportedDrive(DriveModels[position], DriveFirmwareRevisions[position], position,
                               DriveSerialNumbers[position]);
            context.PostDetail(L"A supported drive was found. Model number = '" + currentModel + L"'");
            return true;
        }
    }
    context.ReportError(L"This hard disk model is not supported. Model = " + currentModel,
                        ExitCode(Outcome::NoSupportedDrive), 0);
    return false;
}

DriveAtPosition ReadDriveAt(int position) {
    for (int each = 0; each < MaxDrivePositions; ++each) {
        DriveModels[each].clear();
        DriveFirmwareRevisions[each].clear();
        DriveSerialNumbers[each].clear();
    }
    GatherDrives();
    DriveAtPosition drive;
    if (position >= 0 && position < DriveCount)
        drive = {true, DriveModels[position], DriveFirmwareRevisions[position], DriveSerialNumbers[position]};
    return drive;
}
