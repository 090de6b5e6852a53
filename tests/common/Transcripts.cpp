#include "Transcripts.h"

#include <algorithm>

const wchar_t SupportedDriveScenario[] =
    L"drive 0 model=\"Other Disk 500\" firmware=\"1.0\" pnp=\"IDE\\\\DiskOther__1.0_\"\n"
    L"drive 1 model=\"ATA VLM3064 50B3D160\" firmware=\"V3D1\" pnp=\"IDE\\\\DiskVLM__V3D1_\"\n"
    L"partition type=\"Installable File System\"\n";

Lines SuccessfulRun(const std::wstring& directory, bool restart) {
    Lines run{L"S Checking for administrator credentials...",
              L"D Admin credentials were found",
              L"S Checking Windows version...",
              L"D Current Windows version = 6.1",
              L"D Windows 2000 or later was found",
              L"D Windows using Legacy boot loader",
              L"S Checking system power status...",
              L"D System is on AC power",
              L"S Checking hard drive model...",
              L"L Checking drive position 0 with model number = 'Other Disk 500'",
              L"L Checking drive position 1 with model number = 'ATA VLM3064 50B3D160'",
              L"D A supported drive was found. Model number = 'VLM306450B3D160'",
              L"S Extracting the installation...",
              L"D Cleaning working directory",
              L"D Deleting existing files",
              L"D Extracting installation files",
              L"S Running the Velomar HD upgrade utility...",
              L"L executing: " + directory + L"\\Setup.exe -s",
              L"D Update executed successfully.",
              L"D Deleting existing files"};
    if (restart) {
        const Lines lines = RestartLines();
        run.insert(run.end(), lines.begin(), lines.end());
    }
    run.push_back(L"OK");
    return run;
}

Lines CountdownLines() {
    Lines lines;
    for (int n = 15; n >= 1; --n)
        lines.push_back(L"Restarting Windows in " + std::wstring(n < 10 ? L"0" : L"") + std::to_wstring(n) +
                        L" seconds...");
    return lines;
}

Lines RestartLines() {
    Lines lines{L"S Restarting Windows..."};
    for (const std::wstring& line : CountdownLines())
        lines.push_back(L"D " + line);
    return lines;
}

Lines NotAdministratorRun() {
    return Until(SuccessfulRun(L""), L"S Checking for administrator credentials...",
                 {L"F 100 0 Admin credentials were not found."});
}

Lines OldWindowsRun(const std::wstring& version) {
    return Until(
        SuccessfulRun(L""), L"S Checking Windows version...",
        {L"D Current Windows version = " + version, L"F 101 0 Windows 2000 or later was not found."});
}

Lines NotOnAcPowerRun() {
    return Until(SuccessfulRun(L""), L"S Checking system power status...",
                 {L"F 102 0 System is not on AC power."});
}

Lines DriveStepRun(const Lines& driveStep) {
    return Until(SuccessfulRun(L""), L"S Checking hard drive model...", driveStep);
}

Lines NoDriveRun() {
    return DriveStepRun({L"F 104 0 This hard disk model is not supported. Model = "});
}

Lines Until(const Lines& run, const std::wstring& line, const Lines& then) {
    const auto end = std::find(run.begin(), run.end(), line);
    Lines lines(run.begin(), end == run.end() ? end : end + 1);
    lines.insert(lines.end(), then.begin(), then.end());
    return lines;
}

Lines After(const Lines& run, const std::wstring& line) {
    const auto at = std::find(run.begin(), run.end(), line);
    return at == run.end() ? Lines() : Lines(at + 1, run.end());
}

Lines Posted(const Lines& run) {
    Lines posted;
    for (const std::wstring& line : run)
        if (line.rfind(L"L ", 0) != 0)
            posted.push_back(line);
    return posted;
}

Lines LogOf(const Lines& run) {
    Lines entries{L"Logfile opened"};
    for (const std::wstring& line : run) {
        if (line.rfind(L"F ", 0) == 0) // "F code isError text"
            entries.push_back(L"Exception: " + line.substr(line.find(L' ', line.find(L' ', 2) + 1) + 1));
        else if (line != L"OK")
            entries.push_back(line.substr(2));
    }
    return entries;
}
