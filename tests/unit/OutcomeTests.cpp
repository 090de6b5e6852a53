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

std::string SourceFile(const wchar_t* name) {
    wchar_t root[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"TARNWICK_SOURCE_DIR", root, MAX_PATH);
    return ReadBytes(std::wstring(root) + L"\\" + name);
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
    } cases[] = {
        {3010, State::Succeeded, L"Installed"}, {0, State::Succeeded, L"Installed"},
        {1, State::Succeeded, L"Installed"},    {2, State::Succeeded, L"Installed"}, // Esc after the success
        {101, State::Failed, L"NotApplicable"}, {104, State::Failed, L"NotApplicable"},
        {6, State::Failed, L"Failed"},          {2, State::Failed, L"Failed"},
        {3010, State::Failed, L"Failed"},       {2, State::Running, L"Cancelled"},
        {0, State::Running, L"Failed"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(RecordedState(c.code, c.state), c.recorded) << c.code;
    EXPECT_EQ(InstallOutcome(6, State::Failed), Outcome::PackageNotWritten); // before the installer's 6
    EXPECT_EQ(InstallOutcome(1, State::Succeeded), Outcome::RestartAfterOk);
}

TEST(Outcomes, TheUsageListsEveryCodeAnEngineMeets) {
    const std::wstring lines = L"0\tinstalled, restart started (/r);\n\tor the checks passed (/c)\n"
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
                               L"107\tthe update is already on this drive\n";
    EXPECT_EQ(UsageExitCodeLines(), lines);
    EXPECT_NE(UsageText().find(L"Switches are case-sensitive.\n\nExit codes:\n" + lines + L"\nRun log: "),
              std::wstring::npos);
}

TEST(Outcomes, TheReadmeTableIsTheTable) {
    const std::string readme = SourceFile(L"README.md");
    const std::string head =
        "\n| Code | Outcome | Record `State` | Engine retries | Details |\n|---|---|---|---|---|\n";
    size_t at = readme.find(head);
    ASSERT_NE(at, std::string::npos);
    at += head.size();
    for (const OutcomeRow& row : Outcomes) {
        const std::string cells = "| " + CodeCell(row) + " | " + Narrow(row.meaning) + " | " +
                                  (row.state != nullptr ? "`" + Narrow(row.state) + "`" : "unchanged") +
                                  " | " + (row.retry ? "yes" : "no") + " | "; // then the details
        const size_t end = readme.find('\n', at);
        EXPECT_EQ(readme.substr(at, cells.size()), cells);
        EXPECT_GT(end, at + cells.size() + 2) << "no details";
        at = end + 1;
    }
    EXPECT_NE(readme[at], '|') << "a row that is no outcome";
}

TEST(Outcomes, TheIntuneListGivesEveryCodeItsType) {
    const std::map<int, std::string> listed = IntuneReturnCodes();
    ASSERT_FALSE(listed.empty());
    std::map<int, std::string> others = listed;
    for (const OutcomeRow& row : Outcomes) {
        if (row.code == AnyOtherCode || row.lastCode != row.code)
            continue; // the installer's and Windows' codes: failures, as every code not listed
        SCOPED_TRACE(row.code);
        const std::string expected = row.code == 0 || row.outcome == Outcome::AlreadyOnDrive ? "success"
                                     : row.code == 3010                                      ? "softReboot"
                                     : row.retry                                             ? "retry"
                                                                                             : "failed";
        const auto found = listed.find(row.code);
        EXPECT_EQ(found != listed.end() ? found->second : "failed", expected);
        others.erase(row.code);
    }
    // Beyond the program's own codes only Intune's default for a hard reboot, which it never returns.
    EXPECT_EQ(others, (std::map<int, std::string>{{1641, "hardReboot"}}));
}
