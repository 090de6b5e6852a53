// Events for log collectors: which event each outcome reports, the message file that the program
// writes out and the event viewer reads (its texts found under the full message ids), and the event
// source's registration in Wine's registry.
#include "TestSupport.h"

#include "core/Events.h"
#include "platform/Owned.h"
#include "report/EventLog.h"
#include "report/ResultRecord.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
std::wstring ReadValue(HKEY key, const wchar_t* name, DWORD& type) {
    wchar_t buffer[512] = L"";
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return L"(missing)";
    DWORD number = 0;
    std::memcpy(&number, buffer, sizeof number);
    return type == REG_DWORD ? std::to_wstring(number) : std::wstring(buffer);
}

std::string ResourceBytes() {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(EventMessagesResource), RT_RCDATA);
    const char* data = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
    return data != nullptr ? std::string(data, SizeofResource(nullptr, found)) : std::string();
}

// The event viewer's text of an event: its message formatted from the message file.
std::wstring ViewerText(HMODULE messages, DWORD messageId, const Event& event) {
    const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(event.strings[0].c_str()),
                                   reinterpret_cast<DWORD_PTR>(event.strings[1].c_str()),
                                   reinterpret_cast<DWORD_PTR>(event.strings[2].c_str())};
    wchar_t text[1024] = L"";
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, messages, messageId,
                       0x409, text, 1024, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    return std::wstring(text, length);
}
} // namespace

// Which ID and severity each outcome has is held by the message file (its texts found under the
// table's full ids below, its IDs and severities checked statically by check_messages.py).
TEST(Events, EachEventCarriesCodeStateAndResultAndItsTypeAsReportEventWTakesIt) {
    const Event event = EventFor(EventOutcome::Installed, 3010, L"Installed", L"Done.");
    EXPECT_EQ(event.messageId, 0x400003E8u);
    EXPECT_EQ(event.id, 1000);
    EXPECT_EQ(event.strings[0], L"3010");
    EXPECT_EQ(event.strings[1], L"Installed");
    EXPECT_EQ(event.strings[2], L"Done.");
    EXPECT_EQ(EventFor(EventOutcome::Failed, -1073741819, L"Failed", L"").strings[0], L"3221225477");
    EXPECT_EQ(static_cast<WORD>(EventFor(EventOutcome::NotUpdated, 0, L"", L"").type), EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(static_cast<WORD>(EventFor(EventOutcome::NotVerifiedYet, 0, L"", L"").type),
              EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(static_cast<WORD>(EventFor(EventOutcome::Updated, 0, L"", L"").type),
              EVENTLOG_INFORMATION_TYPE);
}

TEST(Events, EachOutcomeOfARunHasItsEventAndPassedChecksNone) {
    const std::pair<Outcome, std::optional<EventOutcome>> table[] = {
        {Outcome::RestartStarted, EventOutcome::Installed},
        {Outcome::ChecksPassed, std::nullopt},
        {Outcome::RestartRequired, EventOutcome::Installed},
        {Outcome::RestartAfterOk, EventOutcome::Installed},
        {Outcome::Cancelled, EventOutcome::Cancelled},
        {Outcome::AnotherRunInProgress, EventOutcome::AnotherRunInProgress},
        {Outcome::NotAdministrator, EventOutcome::Failed},
        {Outcome::UnsupportedWindows, EventOutcome::NotApplicable},
        {Outcome::OnBattery, EventOutcome::Failed},
        {Outcome::DrivesNotQueried, EventOutcome::Failed},
        {Outcome::NoSupportedDrive, EventOutcome::NotApplicable},
        {Outcome::NotStarted, EventOutcome::Failed},
        {Outcome::VolumeEncrypted, EventOutcome::Failed},
        {Outcome::PackageNotWritten, EventOutcome::Failed},
        {Outcome::InstallerFailed, EventOutcome::Failed},
        {Outcome::WindowsError, EventOutcome::Failed},
        {Outcome::AlreadyOnDrive, EventOutcome::AlreadyOnDrive},
        {Outcome::Verified, EventOutcome::Updated},
        {Outcome::NotUpdated, EventOutcome::NotUpdated},
        {Outcome::NotVerifiedYet, EventOutcome::NotVerifiedYet},
        {Outcome::VerificationGaveUp, EventOutcome::NotUpdated},
        {Outcome::NothingToVerify, std::nullopt},
    };
    ASSERT_EQ(std::size(table), OutcomeCount);
    for (const auto& [outcome, event] : table)
        EXPECT_EQ(RunEventOutcome(outcome), event) << ExitCode(outcome);
}

using EventLogTest = ScratchTest;

// The message file holds every event's text under its full message id (the severity bits
// included), with the three insertion strings; under the bare event ID the viewer finds nothing.
TEST_F(EventLogTest, TheWrittenMessageFileHoldsEveryEventsTextUnderItsFullMessageId) {
    ASSERT_EQ(WriteEventMessageFile(directory.Path()), 0u);
    const std::wstring path = directory.File(EventMessageFileName);
    ASSERT_EQ(ReadBytes(path), ResourceBytes());
    HMODULE messages = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(messages, nullptr);
    const std::pair<EventOutcome, const wchar_t*> starts[] = {
        {EventOutcome::Installed, L"The firmware update is installed; it runs at the next start of Windows."},
        {EventOutcome::AlreadyOnDrive, L"The update is already on this drive;"},
        {EventOutcome::NotApplicable, L"The firmware update does not apply to this machine"},
        {EventOutcome::Cancelled, L"The firmware update run was cancelled."},
        {EventOutcome::AnotherRunInProgress, L"Another run of the firmware update is in progress;"},
        {EventOutcome::Failed, L"The firmware update failed."},
        {EventOutcome::Updated, L"Verified after the restart: the drive runs the new firmware."},
        {EventOutcome::NotVerifiedYet, L"The firmware update is not verified yet;"},
        {EventOutcome::NotUpdated, L"Verified after the restart: the drive does not run the new firmware."},
    };
    ASSERT_EQ(std::size(starts), EventRowCount);
    for (const auto& [outcome, start] : starts) {
        const Event event = EventFor(outcome, 104, L"NotApplicable", L"No drive.");
        const std::wstring text = ViewerText(messages, event.messageId, event);
        EXPECT_EQ(text.rfind(start, 0), 0u) << text;
        EXPECT_NE(text.find(L"Exit code: 104\r\nState: NotApplicable\r\nResult: No drive."),
                  std::wstring::npos)
            << text;
        EXPECT_TRUE(ViewerText(messages, event.id, event).empty()) << event.id;
    }
    FreeLibrary(messages);
}

TEST_F(EventLogTest, AnEqualCopyStaysAnOtherOneIsReplacedAndAHardLinksTargetIsLeftAsItIs) {
    const std::wstring path = directory.File(EventMessageFileName);
    ASSERT_EQ(WriteEventMessageFile(directory.Path()), 0u);
    BY_HANDLE_FILE_INFORMATION first = {}, second = {};
    {
        unique_hfile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        GetFileInformationByHandle(file.get(), &first);
    }
    ASSERT_EQ(WriteEventMessageFile(directory.Path()), 0u);
    {
        unique_hfile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        GetFileInformationByHandle(file.get(), &second);
    }
    EXPECT_EQ(first.nFileIndexLow, second.nFileIndexLow) << "an equal copy is kept, not rewritten";
    EXPECT_EQ(CompareFileTime(&first.ftLastWriteTime, &second.ftLastWriteTime), 0);

    ASSERT_TRUE(WriteBytes(path, "an older message file"));
    ASSERT_EQ(WriteEventMessageFile(directory.Path()), 0u);
    EXPECT_EQ(ReadBytes(path), ResourceBytes());

    const std::wstring other = directory.File(L"other.txt");
    ASSERT_TRUE(WriteBytes(other, "someone else's file"));
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    ASSERT_TRUE(CreateHardLinkW(path.c_str(), other.c_str(), nullptr));
    ASSERT_EQ(WriteEventMessageFile(directory.Path()), 0u);
    EXPECT_EQ(ReadBytes(path), ResourceBytes());
    EXPECT_EQ(ReadBytes(other), "someone else's file");

    // A folder someone else owns gets none; a missing one is made as the history's folders are.
    platform.securitySddl = L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;WD)";
    EXPECT_EQ(WriteEventMessageFile(directory.File(L"other")), static_cast<DWORD>(ERROR_INVALID_OWNER));
    EXPECT_EQ(GetFileAttributesW(directory.File(L"other\\TarnwickMessages.dll").c_str()),
              INVALID_FILE_ATTRIBUTES);
    platform.securitySddl.clear();
    EXPECT_EQ(WriteEventMessageFile(directory.File(L"made")), 0u);
    EXPECT_EQ(ReadBytes(directory.File(L"made\\TarnwickMessages.dll")), ResourceBytes());
}

// A report writes the message file and registers the source in Wine's registry (HKLM, native view); each
// report goes through the platform with its type, full id and strings. A report that Windows refuses says
// why.
TEST_F(EventLogTest, TheFirstReportRegistersTheSourceAndEveryReportGoesThroughThePlatform) {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, EventSourceKey);
    const Event installed = EventFor(EventOutcome::Installed, 3010, L"Installed", L"The update is staged.");
    EXPECT_EQ(ReportOutcomeEvent(directory.Path(), installed), 0u);
    platform.eventResult = FALSE;
    const Event busy = EventFor(EventOutcome::AnotherRunInProgress, 1618, L"", L"");
    EXPECT_EQ(ReportOutcomeEvent(directory.Path(), busy), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(platform.Events(), (Lines{L"Event Tarnwick 4 1073742824|3010|Installed|The update is staged.",
                                        L"Event Tarnwick 2 2147484652|1618||"}));
    EXPECT_EQ(ReadBytes(directory.File(EventMessageFileName)), ResourceBytes());

    unique_hkey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey, 0, KEY_QUERY_VALUE | NativeRegistryView(),
                            key.put()),
              ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(ReadValue(key.get(), L"EventMessageFile", type), directory.File(EventMessageFileName));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(ReadValue(key.get(), L"TypesSupported", type), L"7");
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
}
