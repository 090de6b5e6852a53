#include "drive/DriveQualification.h"

#include "drive/WMIConnection.h"
#include "install/SetupThread.h"

#include <algorithm>

namespace {
// Reads the inventory; raises HDWMIException.
void GatherDrives() {
    WMIConnection connection;
    if (!connection.Open())
        throw HDWMIException(L"An error occurred connecting to WMI.");
    try {
        DriveCount = QueryDriveModels(connection);
        if (DriveCount >= 1) {
            QueryDriveFirmwareRevisions(connection);
            QueryDrivePNPDeviceIDs(connection);
        }
    } catch (...) {
        connection.Close();
        throw;
    }
    connection.Close();
}
} // namespace

std::wstring NormalizeModelNumber(std::wstring model) {
    if (!model.empty() && model.find(L"ATA ") == 0)
        model.erase(0, 4);
    model.erase(std::remove(model.begin(), model.end(), L' '), model.end());
    return model;
}

bool CheckHardDriveModel(SetupThread& thread) {
    for (int position = 0; position < MaxDrivePositions; ++position) {
        DriveModels[position].clear();
        DriveFirmwareRevisions[position].clear();
        DrivePNPDeviceIDs[position].clear();
    }
    std::wstring currentModel;
    try {
        GatherDrives();
    } catch (const HDWMIException& e) {
        thread.ReportError(L"An error occurred while checking the hard drive model. " + e.Message, 103, 1);
        return false;
    }
    for (int position = 0; position < DriveCount; ++position)
        NormalizedDriveModels[position] = NormalizeModelNumber(DriveModels[position]);

    for (int position = 0; position < DriveCount; ++position) {
        thread.WriteLog(L"Checking drive position " + std::to_wstring(position) + L" with model number = '" +
                        DriveModels[position] + L"'");
        currentModel = NormalizedDriveModels[position];
        for (int i = 0; i < SupportedModelCount; ++i) {
            if (currentModel.find(SupportedModels[i]) != std::wstring::npos) {
                thread.PostDetail(L"A supported drive was found. Model number = '" + currentModel + L"'");
                return true;
            }
        }
    }
    thread.ReportError(L"This hard disk model is not supported. Model = " + currentModel, 104, 0);
    return false;
}
