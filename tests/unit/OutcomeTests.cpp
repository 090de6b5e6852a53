// The table of outcomes: what each exit code leaves in the record, the usage text made from it, and
// the README's exit-code table and the return-code list for Intune held to it.
#include "TestFiles.h"
#include "app/RunJournal.h"
#include "app/TarnwickApp.h"
#include "core/Outcomes.h"

#include <gtest/gtest.h>

#include <map>

namespace {
using State = TarnwickDlg::RunState;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end()); // the table's texts are ASCII
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' '), last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string SourceFile(const wchar_t* name) {
    wchar_t root[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"TARNWICK_SOURCE_DIR", root, MAX_PATH);
    return ReadBytes(std::wstring(root) + L"\\" + name);
}

// The rows of the table under "## Exit codes" in README.md, as cells.
std::vector<std::vector<std::string>> ReadmeExitCodeRows() {
    const std::string readme = SourceFile(L"README.md");
    std::vector<std::vector<std::string>> rows;
    size_t at = readme.find("\n## Exit codes\n");
    at = at == std::string::npos ? at : readme.find("\n|", at);
    while (at != std::string::npos && readme.compare(at, 2, "\n|") == 0) {
        const size_t end = readme.find('\n', at + 1);
        const std::string line = readme.substr(at + 2, end - at - 2);
        std::vector<std::string> cells;
        for (size_t from = 0, bar; (bar = line.find('|', from)) != std::string::npos; from = bar + 1)
            cells.push_back(Trimmed(line.substr(from, bar - from)));
        rows.push_back(cells);
        at = end;
    }
    return rows;
}

// "returnCode" -> "type" of docs/intune-return-codes.json.
std::map<int, std::string> IntuneReturnCodes() {
    const std::string json = SourceFile(L"docs\\intune-return-codes.json");
    std::map<int, std::string> codes;
    for (size_t at = json.find("\"returnCode\":"); at != std::string::npos;
         at = json.find("\"returnCode\":", at + 1)) {
        const size_t type = json.find("\"type\": \"", at);
        if (type == std::string::npos)
            break;
        const size_t end = json.find('"', type + 9);
        codes[std::atoi(json.c_str() + at + 13)] = json.substr(type + 9, end - type - 9);
    }
    return codes;
}

std::string CodeCell(const OutcomeRow& row) {
    if (row.code == AnyOtherCode)
        return "other";
    return std::to_string(row.code) + (row.lastCode != row.code ? " to " + std::to_string(row.lastCode) : "");
}
} // namespace

TEST(Outcomes, AnInstallingRunRecordsTheStateItAlwaysDid) {
    const struct {
        int code;
        State state;
        const wchar_t* recorded;
        Outcome outcome;
    } cases[] = {
        {3010, State::Succeeded, L"Installed", Outcome::RestartRequired},
        {0, State::Succeeded, L"Installed", Outcome::RestartStarted},
        {1, State::Succeeded, L"Installed", Outcome::RestartAfterOk},
        {2, State::Succeeded, L"Installed", Outcome::RestartRequired}, // Esc after the success
        {101, State::Failed, L"NotApplicable", Outcome::UnsupportedWindows},
        {104, State::Failed, L"NotApplicable", Outcome::NoSupportedDrive},
        {102, State::Failed, L"Failed", Outcome::OnBattery},
        {6, State::Failed, L"Failed", Outcome::PackageNotWritten},
        {7, State::Failed, L"Failed", Outcome::InstallerFailed},
        {2, State::Failed, L"Failed", Outcome::InstallerFailed},
        {258, State::Failed, L"Failed", Outcome::WindowsError},
        {3010, State::Failed, L"Failed", Outcome::WindowsError}, // Close after a failure coded 0
        {2, State::Running, L"Cancelled", Outcome::Cancelled},
        {0, State::Running, L"Failed", Outcome::WindowsError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(InstallOutcome(c.code, c.state), c.outcome);
        EXPECT_STREQ(RecordedState(c.code, c.state), c.recorded);
    }
}

TEST(Outcomes, TheUsageListsEveryCodeAnEngineMeets) {
    EXPECT_EQ(UsageText(), L"Tarnwick.exe [/s] [/r] [/c] [/l=<file>] [/?]\n"
                           L"\n"
                           L"/s\tno window; the exit code tells the outcome\n"
                           L"/r\trestart Windows after a success\n"
                           L"/c\tcheck only: run the checks, install nothing\n"
                           L"/l=<file>\n\twrite the history log to <file>\n"
                           L"/?\tshow this text\n"
                           L"Also -s or s. Switches are case-sensitive.\n"
                           L"\n"
                           L"Exit codes:\n"
                           L"0\tinstalled, restart started (/r);\n\tor the checks passed (/c)\n"
                           L"3010\tinstalled; Windows must restart\n"
                           L"1618\tanother run is in progress\n"
                           L"100\tnot an administrator\n"
                           L"101\tWindows or boot loader not supported\n"
                           L"102\trunning on battery\n"
                           L"103\tthe drives could not be queried\n"
                           L"104\tno supported drive\n"
                           L"105\tthe installation could not start\n"
                           L"106\tBitLocker encryption is on\n"
                           L"6\tthe package could not be written\n"
                           L"1-16\tthe package installer failed\n"
                           L"\n"
                           L"Run log: VelomarHDDInstallerLog.txt\n"
                           L"History log: %ProgramData%\\Velomar\\\n\tHD Firmware Update\\Tarnwick.log\n"
                           L"Result: HKLM\\SOFTWARE\\Velomar\\\n\tHD Firmware Update");
}

TEST(Outcomes, TheReadmeTableIsTheTable) {
    const auto rows = ReadmeExitCodeRows();
    ASSERT_EQ(rows.size(), OutcomeCount + 2) << "a header, a rule and one row per outcome";
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{"Code", "Outcome", "Record `State`", "Engine retries", "Details"}));
    for (size_t i = 0; i < OutcomeCount; ++i) {
        const OutcomeRow& row = Outcomes[i];
        const std::vector<std::string>& cells = rows[i + 2];
        SCOPED_TRACE(Narrow(row.meaning));
        ASSERT_EQ(cells.size(), 5u);
        EXPECT_EQ(cells[0], CodeCell(row));
        EXPECT_EQ(cells[1], Narrow(row.meaning));
        EXPECT_EQ(cells[2], row.state != nullptr ? "`" + Narrow(row.state) + "`" : "unchanged");
        EXPECT_EQ(cells[3], row.retry ? "yes" : "no");
        EXPECT_FALSE(cells[4].empty());
    }
}

TEST(Outcomes, TheIntuneListGivesEveryCodeItsType) {
    const std::map<int, std::string> listed = IntuneReturnCodes();
    ASSERT_FALSE(listed.empty());
    std::map<int, std::string> others = listed;
    for (const OutcomeRow& row : Outcomes) {
        if (row.code == AnyOtherCode || row.lastCode != row.code)
            continue; // the installer's and Windows' codes: failures, as every code not listed
        SCOPED_TRACE(row.code);
        const std::string expected = row.code == 0      ? "success"
                                     : row.code == 3010 ? "softReboot"
                                     : row.retry        ? "retry"
                                                        : "failed";
        const auto found = listed.find(row.code);
        EXPECT_EQ(found != listed.end() ? found->second : "failed", expected);
        others.erase(row.code);
    }
    // Beyond the program's own codes only Intune's default for a hard reboot, which it never returns.
    EXPECT_EQ(others, (std::map<int, std::string>{{1641, "hardReboot"}}));
}
