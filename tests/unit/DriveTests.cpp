// The WMI layer over the fake provider, and the drive step on top of it.
#include "TestSupport.h"

#include "FakeWmi.h"
#include "drive/DriveQualification.h"
#include "drive/WMIConnection.h"
#include "install/SetupThread.h"
#include "platform/WorkingDirectory.h"

#include <gtest/gtest.h>

#include <set>

namespace {
// The arguments of each call of method to the fake provider, in order.
Lines CallsOf(const wchar_t* method) {
    Lines calls;
    for (const fakewmi::Call& call : fakewmi::Calls())
        if (call.method == method)
            calls.push_back(call.args);
    return calls;
}

std::wstring DriveQuery(int position) {
    return L"WQL|Select * from Win32_DiskDrive Where DeviceID = '\\\\\\\\.\\\\PhysicalDrive" +
           std::to_wstring(position) + L"'|16";
}

class WmiTest : public ::testing::Test {
  protected:
    // Runs query on a fresh connection; returns its result or the failure text.
    template <typename Query> std::wstring Try(Query query) {
        WMIConnection connection;
        if (!connection.Open())
            return L"(not open)";
        std::wstring outcome;
        try {
            outcome = std::to_wstring(query(connection));
        } catch (const HDWMIException& e) {
            outcome = e.Message;
        }
        connection.Close();
        return outcome;
    }
    FakePlatform platform;
};
} // namespace

TEST_F(WmiTest, OpenConnectsToCimv2WithTheProxyBlanket) {
    UseScenario(L"");
    WMIConnection connection;
    ASSERT_TRUE(connection.Open());
    EXPECT_NE(connection.Locator.get(), nullptr);
    EXPECT_NE(connection.Services.get(), nullptr);
    connection.Close();
    EXPECT_EQ(connection.Locator.get(), nullptr);
    EXPECT_EQ(connection.Services.get(), nullptr);
    Lines calls;
    for (const fakewmi::Call& call : fakewmi::Calls())
        calls.push_back(call.method + L" " + call.args);
    EXPECT_EQ(calls, (Lines{L"CreateInstance {DC12A687-737F-11CF-884D-00AA004B2E24}",
                            L"ConnectServer root\\CIMV2|(null)|(null)|(null)|128|(null)",
                            L"SetBlanket 10|0|(null)|3|3|(null)|0"}));
    EXPECT_EQ(fakewmi::LiveObjects(), 0);
}

TEST_F(WmiTest, TheConnectionWaitIsBoundedWhereWindowsOffersIt) {
    // Vista and later bound ConnectServer at two minutes on request; earlier releases know no such flag.
    for (DWORD major : {5u, 6u, 10u}) {
        SCOPED_TRACE(major);
        platform.major = major;
        UseScenario(L"");
        WMIConnection connection;
        ASSERT_TRUE(connection.Open());
        connection.Close();
        const Lines connects = CallsOf(L"ConnectServer");
        ASSERT_EQ(connects.size(), 1u);
        EXPECT_EQ(connects[0], std::wstring(L"root\\CIMV2|(null)|(null)|(null)|") +
                                   (major >= 6 ? L"128" : L"0") + L"|(null)");
    }
}

TEST_F(WmiTest, FailedOpeningUndoesEveryStep) {
    for (const wchar_t* failure : {L"fail CreateInstance 1 0x80004005", L"fail ConnectServer 1 0x8004100E",
                                   L"fail SetBlanket 1 0x80070005"}) {
        SCOPED_TRACE(std::wstring(failure).c_str());
        UseScenario(failure);
        WMIConnection connection;
        EXPECT_FALSE(connection.Open());
        EXPECT_EQ(connection.Locator.get(), nullptr);
        EXPECT_EQ(connection.Services.get(), nullptr);
        EXPECT_EQ(fakewmi::LiveObjects(), 0);
        // COM was uninitialised again: a new initialisation is the first on this thread.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }
}

TEST_F(WmiTest, TheWalkEndsAtTheFirstPositionWithoutADrive) {
    UseScenario(L"drive 0 model=\"A\"\ndrive 1 model=\"B\"\n");
    EXPECT_EQ(Try(QueryDriveModels), L"2");
    EXPECT_EQ(CallsOf(L"ExecQuery"), (Lines{DriveQuery(0), DriveQuery(1), DriveQuery(2)}));
    EXPECT_EQ(Lines(DriveModels, DriveModels + 2), (Lines{L"A", L"B"}));

    UseScenario(L"drive 0 model=\"A\"\ndrive 2 model=\"C\"\n");
    EXPECT_EQ(Try(QueryDriveModels), L"1");
    EXPECT_EQ(CallsOf(L"ExecQuery"), (Lines{DriveQuery(0), DriveQuery(1)}));

    std::wstring nine;
    for (int i = 0; i < 9; ++i)
        nine += L"drive " + std::to_wstring(i) + L" model=\"M" + std::to_wstring(i) + L"\"\n";
    UseScenario(nine);
    EXPECT_EQ(Try(QueryDriveModels), L"8");
    Lines queries;
    for (int i = 0; i < 8; ++i)
        queries.push_back(DriveQuery(i));
    EXPECT_EQ(CallsOf(L"ExecQuery"), queries);
    EXPECT_EQ(CallsOf(L"Next"), Lines(8, L"60000|1")); // a bounded wait
    EXPECT_EQ(fakewmi::LiveObjects(), 0);
}

TEST_F(WmiTest, EveryQueryFailureHasItsText) {
    struct Case {
        const wchar_t* scenario;
        int (*query)(WMIConnection&);
        const wchar_t* text;
    } cases[] = {
        {L"fail ExecQuery 1 0x80041017", QueryDriveModels,
         L"An error occurred executing the WMI query to get the drive model."},
        {L"fail Reset 1 0x80041001", QueryDriveModels,
         L"An error occurred enumerating the WMI query results to get the drive model."},
        {L"fail Get:Model 1 0x80041002", QueryDriveModels,
         L"An error occurred getting the drive model from WMI."},
        {L"fail ExecQuery 1 1", QueryDriveModels,
         L"An error occurred executing the WMI query to get the drive model."},
        {L"fail ExecQuery 2 0x80041017", QueryDriveFirmwareRevisions,
         L"An error occurred executing the WMI query to get the drive firmware version."},
        {L"fail Reset 1 0x40004", QueryDriveFirmwareRevisions,
         L"An error occurred enumerating the WMI query results to get the drive firmware version."},
        {L"fail Get:PNPDeviceID 1 0x80041002", QueryDriveFirmwareRevisions,
         L"An error occurred getting the drive firmware version from WMI."},
        {L"fail ExecQuery 1 0x80041017", QueryDrivePNPDeviceIDs,
         L"An error occurred executing the WMI query to get the drive PNP ID."},
        {L"fail Reset 1 0x80041001", QueryDrivePNPDeviceIDs,
         L"An error occurred enumerating the WMI query results to get the PNP ID."},
        {L"fail Get:PNPDeviceID 1 0x80041002", QueryDrivePNPDeviceIDs,
         L"An error occurred getting the drive PNP ID from WMI."},
        // A service that stops answering: the wait ends, and the query fails.
        {L"fail Next 1 0x40004", QueryDriveModels,
         L"An error occurred enumerating the WMI query results to get the drive model."},
        {L"fail Next 2 0x40004", QueryDriveFirmwareRevisions,
         L"An error occurred enumerating the WMI query results to get the drive firmware version."},
        {L"fail Next 1 0x40004", QueryDrivePNPDeviceIDs,
         L"An error occurred enumerating the WMI query results to get the PNP ID."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::wstring(c.scenario).c_str());
        // Drive 0 lacks FirmwareRevision, so the firmware query falls back to PNPDeviceID.
        UseScenario(std::wstring(L"drive 0 model=\"A\" pnp=\"X\"\n") + c.scenario + L"\n");
        EXPECT_EQ(Try(c.query), c.text);
        EXPECT_EQ(fakewmi::LiveObjects(), 0);
    }
}

TEST_F(WmiTest, ANextThatFailsAtAnyPositionFailsTheWalkWithItsEnumerationText) {
    // E_FAIL, WBEM_E_PROVIDER_FAILURE, RPC_E_DISCONNECTED, WBEM_E_ACCESS_DENIED, E_ACCESSDENIED, a time-out,
    // and a success without an object.
    const wchar_t* const results[] = {L"0x80004005", L"0x80041004", L"0x80010108", L"0x80041003",
                                      L"0x80070005", L"0x40004",    L"0"};
    const struct {
        int (*query)(WMIConnection&);
        const wchar_t* text;
    } walks[] = {
        {QueryDriveModels, L"An error occurred enumerating the WMI query results to get the drive model."},
        {QueryDriveFirmwareRevisions,
         L"An error occurred enumerating the WMI query results to get the drive firmware version."},
        {QueryDrivePNPDeviceIDs, L"An error occurred enumerating the WMI query results to get the PNP ID."},
    };
    for (const auto& walk : walks) {
        // Position 2 is where the walk would end: a failure there is no end either.
        for (int position = 0; position <= 2; ++position) {
            for (const wchar_t* result : results) {
                SCOPED_TRACE(std::to_wstring(position) + L" " + result);
                UseScenario(L"drive 0 model=\"A\" pnp=\"X\"\ndrive 1 model=\"B\" pnp=\"Y\"\nfail Next:" +
                            std::to_wstring(position) + L" 1 " + result + L"\n");
                EXPECT_EQ(Try(walk.query), walk.text);
                EXPECT_EQ(fakewmi::LiveObjects(), 0);
            }
        }
    }
    UseScenario(L"drive 0 model=\"A\"\nfail Next:1 1 1\n"); // WBEM_S_FALSE alone is the end
    EXPECT_EQ(Try(QueryDriveModels), L"1");
}

TEST_F(WmiTest, PartitionQueryFailuresHaveTheirTexts) {
    const std::wstring partition = L"partition type=\"GPT: System\"\n";
    auto gpt = [](WMIConnection& c) { return int(QueryDisk0IsGPT(c)); };
    UseScenario(partition + L"fail ExecQuery 1 0x80041017");
    EXPECT_EQ(Try(gpt), L"An error occurred executing the WMI query to get the disk partitions.");
    UseScenario(partition + L"fail Reset 1 0x80041001");
    EXPECT_EQ(Try(gpt), L"An error occurred enumerating the WMI query.");
    UseScenario(L"");
    EXPECT_EQ(Try(gpt), L"An error occurred enumerating the WMI query results to get the disk partitions.");
    for (const wchar_t* result : {L"0x40004", L"0x80004005", L"0x80010108", L"0"}) {
        UseScenario(partition + L"fail Next 1 " + result);
        EXPECT_EQ(Try(gpt),
                  L"An error occurred enumerating the WMI query results to get the disk partitions.");
    }
    UseScenario(partition + L"fail Get:Type 1 0x80041002");
    EXPECT_EQ(Try(gpt), L"An error occurred getting the drive partition type from WMI.");
    UseScenario(partition);
    EXPECT_EQ(Try(gpt), L"1");
    EXPECT_EQ(CallsOf(L"ExecQuery"),
              (Lines{L"WQL|Select * from Win32_DiskPartition Where DiskIndex = '0'|16"}));
}

TEST_F(WmiTest, ValuesBecomeTextOrFailClearly) {
    UseScenario(L"drive 0 model=null\ndrive 1 model=int:123\ndrive 2 model=\"ok\"\n");
    EXPECT_EQ(Try(QueryDriveModels), L"3");
    EXPECT_EQ(Lines(DriveModels, DriveModels + 3), (Lines{L"", L"123", L"ok"}));
    UseScenario(L"drive 0 model=array\n");
    EXPECT_EQ(Try(QueryDriveModels), L"The value of the WMI property Model could not be read as text.");
    EXPECT_EQ(fakewmi::LiveObjects(), 0);
}

TEST_F(WmiTest, FirmwareRevisionFallsBackToThePnpIdentifier) {
    UseScenario(L"drive 0 firmware=\"FW01\" pnp=\"IDE\\DiskX_____REV9____\\1\"\n"
                L"drive 1 pnp=\"IDE\\DiskY__R2_B\"\ndrive 2 firmware=null pnp=\"Z\"\n");
    EXPECT_EQ(Try(QueryDriveFirmwareRevisions), L"3");
    EXPECT_EQ(Lines(DriveFirmwareRevisions, DriveFirmwareRevisions + 3), (Lines{L"FW01", L"R2", L""}));
    EXPECT_EQ(Try(QueryDrivePNPDeviceIDs), L"0");
    EXPECT_EQ(DrivePNPDeviceIDs[1], L"IDE\\DiskY__R2_B");
}

TEST_F(WmiTest, EveryWaitForAnAnswerIsBounded) {
    UseScenario(L"drive 0 model=\"A\" pnp=\"X\"\npartition type=\"NTFS\"\n");
    EXPECT_EQ(Try(QueryDriveModels), L"1");
    EXPECT_EQ(Try(QueryDriveFirmwareRevisions), L"1");
    EXPECT_EQ(Try(QueryDrivePNPDeviceIDs), L"0");
    EXPECT_EQ(Try([](WMIConnection& c) { return int(QueryDisk0IsGPT(c)); }), L"0");
    // Two positions for each drive query, one for the partition.
    EXPECT_EQ(CallsOf(L"Next"), Lines(7, L"60000|1"));
}

TEST(PnpRevision, IsTheRunAfterTheFirstDoubleUnderscore) {
    EXPECT_EQ(ExtractRevisionFromPNPDeviceID(L"IDE\\Disk_VLM__ABCD_x"), L"ABCD");
    EXPECT_EQ(ExtractRevisionFromPNPDeviceID(L"A_B_C"), L"");
    EXPECT_EQ(ExtractRevisionFromPNPDeviceID(L"A_B__REV\\4&2&0"), L"REV\\4&2&0");
    EXPECT_EQ(ExtractRevisionFromPNPDeviceID(L"ABC__"), L"");
    EXPECT_EQ(ExtractRevisionFromPNPDeviceID(L"NOUNDERSCORE"), L"");
    EXPECT_EQ(ExtractRevisionFromPNPDeviceID(L"X___R1_"), L"R1");
    EXPECT_EQ(ExtractRevisionFromPNPDeviceID(L"X_____R1"), L"R1");
    EXPECT_EQ(ExtractRevisionFromPNPDeviceID(L""), L"");
}

TEST(ModelNumber, NormalisationDropsALeadingAtaAndEverySpace) {
    EXPECT_EQ(NormalizeModelNumber(L"ATA VLM3064 50B3D160"), L"VLM306450B3D160");
    EXPECT_EQ(NormalizeModelNumber(L" ATA VLM3064"), L"ATAVLM3064");
    EXPECT_EQ(NormalizeModelNumber(L"VLM ATA 1"), L"VLMATA1");
    EXPECT_EQ(NormalizeModelNumber(L"ata VLM"), L"ataVLM");
    EXPECT_EQ(NormalizeModelNumber(L"A\tB "), L"A\tB");
    EXPECT_EQ(NormalizeModelNumber(L"ATA "), L"");
    EXPECT_EQ(NormalizeModelNumber(L""), L"");
}

TEST(SupportedModelList, HoldsTwelveGroupsOfFullNumbersEachFollowedByItsFamilyPrefix) {
    ASSERT_EQ(SupportedModelCount, 31);
    const std::wstring series(SupportedModels[0], 3);
    std::set<std::wstring> full, prefixes;
    int groups = 0, pending = 0, prefixEntries = 0;
    std::vector<std::wstring> group;
    for (int i = 0; i < SupportedModelCount; ++i) {
        const std::wstring entry = SupportedModels[i];
        SCOPED_TRACE(std::string(entry.begin(), entry.end()));
        EXPECT_EQ(entry.substr(0, 3), series);
        for (wchar_t c : series)
            EXPECT_TRUE(c >= L'A' && c <= L'Z');
        for (wchar_t c : entry)
            EXPECT_TRUE((c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9'));
        if (entry.size() == 15) {
            // prefix, 2 digits, letter, digit, letter, 3 digits
            const std::wstring shape = L"dd"
                                       L"L"
                                       L"d"
                                       L"L"
                                       L"ddd";
            for (size_t k = 0; k < shape.size(); ++k)
                EXPECT_TRUE(shape[k] == L'd' ? iswdigit(entry[7 + k]) : iswupper(entry[7 + k]));
            EXPECT_TRUE(full.insert(entry).second);
            group.push_back(entry);
            ++pending;
            EXPECT_LE(pending, 3);
        } else {
            ASSERT_EQ(entry.size(), 7u);
            for (size_t k = 3; k < 7; ++k)
                EXPECT_TRUE(iswdigit(entry[k]));
            EXPECT_GE(pending, 1);
            for (const std::wstring& model : group)
                EXPECT_EQ(model.substr(0, 7), entry);
            prefixes.insert(entry);
            ++prefixEntries;
            ++groups;
            pending = 0;
            group.clear();
        }
    }
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(groups, 12);
    EXPECT_EQ(full.size(), 19u);
    EXPECT_EQ(prefixEntries, 12);
    EXPECT_EQ(prefixes.size(), 5u);
}

namespace {
class DriveStepTest : public ScratchTest {
  protected:
    // Runs the drive step over scenario; returns its outcome and keeps what it posted and logged.
    bool Check(const std::wstring& scenario) {
        UseScenario(scenario);
        MessageSink sink;
        bool result;
        {
            SetupThread worker;
            worker.m_hDialog = sink.Window();
            result = CheckHardDriveModel(worker);
        }
        posted = sink.Collect();
        log = Log();
        return result;
    }
    bool LogHas(const std::wstring& entry) const {
        const std::string bytes = LogBytes({entry}).substr(2);
        return log.find(bytes) != std::string::npos;
    }
    Lines posted;
    std::string log;
};
} // namespace

TEST_F(DriveStepTest, SupportedDriveBehindAnUnsupportedOneIsFound) {
    EXPECT_TRUE(Check(L"drive 0 model=\"Other Disk 500\" pnp=\"P0\"\n"
                      L"drive 1 model=\"Velomar VLM306450B3D160\" firmware=\"F1\" pnp=\"P1\"\n"));
    EXPECT_EQ(posted, (Lines{L"D A supported drive was found. Model number = 'VelomarVLM306450B3D160'"}));
    EXPECT_EQ(log,
              LogBytes({L"Logfile opened", L"Checking drive position 0 with model number = 'Other Disk 500'",
                        L"Checking drive position 1 with model number = 'Velomar VLM306450B3D160'",
                        L"A supported drive was found. Model number = 'VelomarVLM306450B3D160'",
                        L"Logfile closed"}));
    EXPECT_EQ(NormalizedDriveModels[0], L"OtherDisk500");
}

TEST_F(DriveStepTest, FirstMatchingPositionWinsAndLaterOnesAreNotLogged) {
    EXPECT_TRUE(Check(L"drive 0 model=\"VLM2016\" pnp=\"a\"\ndrive 1 model=\"VLM4096\" pnp=\"b\"\n"));
    EXPECT_FALSE(LogHas(L"Checking drive position 1 with model number = 'VLM4096'"));
    EXPECT_EQ(posted, (Lines{L"D A supported drive was found. Model number = 'VLM2016'"}));
}

TEST_F(DriveStepTest, UnsupportedDrivesNameTheLastPositionsModel) {
    EXPECT_FALSE(
        Check(L"drive 0 model=\"ATA Disk A\" pnp=\"a\"\ndrive 1 model=\"vlm3064 lower\" pnp=\"b\"\n"));
    EXPECT_EQ(posted, (Lines{L"F 104 0 This hard disk model is not supported. Model = vlm3064lower"}));
    EXPECT_TRUE(LogHas(L"Exception: This hard disk model is not supported. Model = vlm3064lower"));
}

TEST_F(DriveStepTest, NoDriveAtAllEndsWithAnEmptyModel) {
    EXPECT_FALSE(Check(L"drive 1 model=\"VLM3064\"\n"));
    EXPECT_EQ(posted, (Lines{L"F 104 0 This hard disk model is not supported. Model = "}));
    EXPECT_EQ(CallsOf(L"ExecQuery"), (Lines{DriveQuery(0)})); // no firmware or PNP query without a drive
    EXPECT_FALSE(LogHas(L"Checking drive position 0 with model number = ''"));
}

TEST_F(DriveStepTest, WmiFailuresFailTheStepWith103EvenForASupportedDrive) {
    EXPECT_FALSE(Check(L"drive 0 model=\"VLM3064\" pnp=\"P\"\nfail Get:PNPDeviceID 2 0x80041002\n"));
    EXPECT_EQ(posted, (Lines{L"F 103 1 An error occurred while checking the hard drive model. "
                             L"An error occurred getting the drive PNP ID from WMI."}));
    EXPECT_FALSE(LogHas(L"Checking drive position 0 with model number = 'VLM3064'"));
    EXPECT_EQ(fakewmi::LiveObjects(), 0);

    EXPECT_FALSE(Check(L"fail ConnectServer 1 0x80041003\n"));
    EXPECT_EQ(posted, (Lines{L"F 103 1 An error occurred while checking the hard drive model. "
                             L"An error occurred connecting to WMI."}));
    EXPECT_FALSE(Check(L"drive 0 model=array\n"));
    EXPECT_EQ(posted, (Lines{L"F 103 1 An error occurred while checking the hard drive model. "
                             L"The value of the WMI property Model could not be read as text."}));
}

TEST_F(DriveStepTest, AFailingNextInAnyWalkIs103NeverAMissingDriveOrAnEmptyValue) {
    const std::wstring prefix = L"F 103 1 An error occurred while checking the hard drive model. ";
    const struct {
        const wchar_t* failure;
        const wchar_t* text;
    } cases[] = {
        {L"fail Next:0 1 0x80004005",
         L"An error occurred enumerating the WMI query results to get the drive model."},
        {L"fail Next:1 1 0x80041004",
         L"An error occurred enumerating the WMI query results to get the drive model."},
        {L"fail Next:1 2 0x80010108",
         L"An error occurred enumerating the WMI query results to get the drive firmware version."},
        {L"fail Next:0 3 0x80041003",
         L"An error occurred enumerating the WMI query results to get the PNP ID."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::wstring(c.failure).c_str());
        EXPECT_FALSE(Check(std::wstring(SupportedDriveScenario) + c.failure + L"\n"));
        EXPECT_EQ(posted, (Lines{prefix + c.text}));
        EXPECT_FALSE(LogHas(L"Checking drive position 0 with model number = 'Other Disk 500'"));
        EXPECT_TRUE(LogHas(L"Exception: " + prefix.substr(8) + c.text));
        EXPECT_EQ(fakewmi::LiveObjects(), 0);
    }
}

TEST_F(DriveStepTest, ModelWithoutValueMatchesNothing) {
    EXPECT_FALSE(Check(L"drive 0 model=null pnp=\"P\"\n"));
    EXPECT_EQ(posted, (Lines{L"F 104 0 This hard disk model is not supported. Model = "}));
    EXPECT_TRUE(LogHas(L"Checking drive position 0 with model number = ''"));
}

TEST_F(DriveStepTest, ControlCharactersFromWmiAreShownInTheLogAndNeverSplitAnEntry) {
    // A NUL, and a CR LF that would otherwise forge an entry of its own.
    EXPECT_FALSE(
        Check(L"drive 0 model=\"ATA\\u0000Disk\\u000D\\u000AException: forged\\u007F\" pnp=\"a\"\n"));
    EXPECT_EQ(log, LogBytes({L"Logfile opened",
                             L"Checking drive position 0 with model number = "
                             L"'ATA\uFFFDDisk\uFFFD\uFFFDException: forged\uFFFD'",
                             L"Exception: This hard disk model is not supported. Model = "
                             L"ATA\uFFFDDisk\uFFFD\uFFFDException:forged\uFFFD",
                             L"Logfile closed"}));
    // Matching and the dialog see the text as it is.
    EXPECT_EQ(NormalizedDriveModels[0], std::wstring(L"ATA") + L'\0' + L"Disk\r\nException:forged\x7F");
    EXPECT_EQ(posted,
              (Lines{L"F 104 0 This hard disk model is not supported. Model = " + NormalizedDriveModels[0]}));
}
