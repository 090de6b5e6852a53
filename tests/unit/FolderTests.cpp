// Folders an elevated program may trust: who may add files (descriptors from SDDL, and real folders
// whose Unix mode Wine reports as rights), folders held for the history log and the package, and the
// DLLs loaded from the system folder where the search cannot be restricted.
#include "TestSupport.h"
#include "platform/DllSearch.h"
#include "platform/OwnFile.h"
#include "platform/PackageFolder.h"
#include "platform/Security.h"
#include "report/HistoryLog.h"

#include <sddl.h>

namespace {
std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::wstring UserSidText() {
    std::vector<BYTE> user = ProcessUserSid();
    wchar_t* text = nullptr;
    EXPECT_TRUE(!user.empty() && ConvertSidToStringSidW(user.data(), &text));
    std::wstring result = text != nullptr ? text : L"";
    LocalFree(text);
    return result;
}

FolderVerdict VerdictOn(const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr))
        << Narrow(sddl);
    std::vector<BYTE> user = ProcessUserSid();
    const FolderVerdict verdict = WhoMayAddFiles(descriptor, user.data());
    LocalFree(descriptor);
    return verdict;
}

// Folders the test run prepared on the Unix side: 755, 777, elsewhere, and linked (a symbolic link
// to elsewhere). Empty when the run did not.
std::wstring FolderCase(const wchar_t* name) {
    wchar_t cases[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"TARNWICK_FOLDER_CASES", cases, MAX_PATH) == 0)
        return std::wstring();
    return std::wstring(cases) + L"\\" + name;
}

using FolderTest = ScratchTest;
} // namespace

TEST(WhoMayAddFilesTest, WalksTheDaclAsWindowsChecksTheFolder) {
    const std::wstring user = UserSidText();
    const std::wstring trustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    struct Case {
        std::wstring sddl;
        const char* why; // null: only the trusted may add files
    } cases[] = {
        {AdminFolderSddl, nullptr},
        {L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;WD)", "Everyone (S-1-1-0) may add files"},
        {L"O:BAD:(A;;0x4;;;BU)", "BUILTIN\\Users (S-1-5-32-545) may add files"}, // a folder: Setup.exe.local
        {L"O:BAD:(A;;GW;;;AU)", "NT AUTHORITY\\Authenticated Users (S-1-5-11) may add files"},
        {L"O:BAD:(A;;WD;;;BU)", "BUILTIN\\Users (S-1-5-32-545) may add files"}, // may change who may
        {L"O:BAD:(A;;0x1200a9;;;BU)(A;;FA;;;" + user + L")", nullptr},
        {L"O:BAD:(A;;FA;;;S-1-5-21-1-2-3-1001)", "S-1-5-21-1-2-3-1001 may add files"},
        // A deny before the allow takes the rights away; after it (not in canonical order) it is too late.
        {L"O:BAD:(D;;0x6;;;BU)(A;;0x1301bf;;;BU)", nullptr},
        {L"O:BAD:(D;;0x6;;;WD)(A;;0x1301bf;;;BU)", nullptr},
        {L"O:BAD:(D;;0x2;;;BU)(A;;0x1301bf;;;BU)", "BUILTIN\\Users (S-1-5-32-545) may add files"},
        {L"O:BAD:(A;;0x1301bf;;;BU)(D;;0x6;;;BU)", "BUILTIN\\Users (S-1-5-32-545) may add files"},
        // Inherit-only entries and Creator Owner apply to what is made inside, not to the folder.
        {L"O:BAD:(A;OICIIO;FA;;;BU)(A;;FA;;;SY)", nullptr},
        {L"O:BAD:(A;OICIIO;FA;;;CO)(A;;FA;;;CO)(A;;FA;;;BA)", nullptr},
        // The owner may always change the DACL, unless Owner Rights entries say what it may.
        {L"O:BUD:(A;;FA;;;SY)", "BUILTIN\\Users (S-1-5-32-545) owns it and may change who adds files"},
        {L"O:BUD:(A;;0x1200a9;;;OW)(A;;FA;;;SY)", nullptr},
        {L"O:BUD:(A;;FA;;;OW)", "BUILTIN\\Users (S-1-5-32-545) may add files"},
        {L"O:" + trustedInstaller + L"D:(A;;FA;;;" + trustedInstaller + L")", nullptr},
        {L"O:" + user + L"D:", nullptr}, // an empty DACL: no one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.sddl));
        const FolderVerdict verdict = VerdictOn(c.sddl);
        EXPECT_EQ(c.why != nullptr, verdict.othersMayAddFiles);
        EXPECT_EQ(c.why != nullptr ? c.why : "", Narrow(verdict.why));
    }
    // A NULL DACL, or none at all.
    PSID administrators = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(L"BA", &administrators));
    for (bool present : {true, false}) {
        const FolderVerdict verdict = WhoMayAddFiles(administrators, nullptr, present, nullptr);
        EXPECT_TRUE(verdict.othersMayAddFiles);
        EXPECT_EQ("it has no access list (a NULL DACL): anyone may add files", Narrow(verdict.why));
    }
    LocalFree(administrators);
}

TEST(WhoMayAddFilesTest, ReadsARealFolderFromItsUnixMode) {
    if (FolderCase(L"755").empty())
        GTEST_SKIP() << "TARNWICK_FOLDER_CASES is not set";
    EXPECT_FALSE(ReadWhoMayAddFiles(FolderCase(L"755")).othersMayAddFiles);
    const FolderVerdict open = ReadWhoMayAddFiles(FolderCase(L"777"));
    EXPECT_TRUE(open.othersMayAddFiles);
    EXPECT_EQ("Everyone (S-1-1-0) may add files", Narrow(open.why));
    const FolderVerdict missing = ReadWhoMayAddFiles(FolderCase(L"missing"));
    EXPECT_TRUE(missing.othersMayAddFiles);
    EXPECT_EQ("its access rights could not be read (error 2)", Narrow(missing.why));
}

TEST_F(FolderTest, HeldFoldersAreMadeCheckedAndCannotBeRenamed) {
    const std::wstring folder = directory.File(L"a\\b");
    std::wstring refusal;
    {
        TrustedFolders held;
        ASSERT_EQ(0u, held.Hold(folder, L"", refusal)) << Narrow(refusal);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));
        EXPECT_FALSE(MoveFileW(folder.c_str(), directory.File(L"a\\moved").c_str()));
        EXPECT_FALSE(RemoveDirectoryW(folder.c_str()));
    }
    EXPECT_TRUE(MoveFileW(folder.c_str(), directory.File(L"a\\moved").c_str())); // released

    // A reparse point, and an owner no one trusts (Wine shows every owner as the user running it).
    TrustedFolders held;
    platform.addedFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_EQ(OwnFileIsReparsePoint, held.Hold(directory.File(L"a"), L"", refusal));
    EXPECT_EQ(Narrow(directory.File(L"a")) + ": it is a link (a reparse point), not a folder of its own",
              Narrow(refusal));
    platform.addedFileAttributes = 0;
    platform.securitySddl = L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;WD)";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_OWNER), held.Hold(directory.File(L"a"), L"", refusal));
    EXPECT_EQ(Narrow(directory.File(L"a")) + ": it is owned by S-1-5-21-1-2-3-1001, not by SYSTEM, "
                                             "Administrators or the account running the program",
              Narrow(refusal));
    platform.securitySddl = L"O:SYD:(A;;FA;;;WD)";
    EXPECT_EQ(0u, held.Hold(directory.File(L"a"), L"", refusal));
}

TEST_F(FolderTest, ALinkedFolderIsAReparsePointAndGetsNoHistory) {
    if (FolderCase(L"linked").empty())
        GTEST_SKIP() << "TARNWICK_FOLDER_CASES is not set";
    TrustedFolders held;
    std::wstring refusal;
    EXPECT_EQ(OwnFileIsReparsePoint, held.Hold(FolderCase(L"linked"), L"", refusal));
    HistoryLog log;
    EXPECT_EQ(OwnFileIsReparsePoint, log.Open(FolderCase(L"linked") + L"\\Tarnwick.log"));
    EXPECT_EQ(refusal, log.Refusal());
    EXPECT_FALSE(FileExists(FolderCase(L"elsewhere\\Tarnwick.log")));
}

TEST_F(FolderTest, TheHistoryLogIsAppendedToAndRotatedOnlyWhenItIsAFileOfItsOwn) {
    const std::wstring path = directory.File(L"logs\\Tarnwick.log");
    const std::wstring older = directory.File(L"logs\\Tarnwick.lo_");
    WriteBytes(directory.File(L"other.txt"), "theirs");
    HistoryLog log;
    ASSERT_EQ(0u, log.Open(path));
    log.Write(L"first");
    log.Close();
    const std::string first = ReadBytes(path);
    EXPECT_EQ(0u, first.find("\xEF\xBB\xBF<![LOG[first]LOG]!>"));

    // Past its cap with a planted older generation that names another file: rotated over the name only.
    ASSERT_TRUE(WriteBytes(path, std::string(MaxHistoryLogSize + 1, 'o')));
    ASSERT_TRUE(CreateHardLinkW(older.c_str(), directory.File(L"other.txt").c_str(), nullptr));
    ASSERT_EQ(0u, log.Open(path));
    log.Close();
    EXPECT_EQ("theirs", ReadBytes(directory.File(L"other.txt")));
    EXPECT_EQ(MaxHistoryLogSize + 1, ReadBytes(older).size());
    EXPECT_EQ("\xEF\xBB\xBF", ReadBytes(path));

    // A log that is a second name of another file is neither written nor rotated.
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    ASSERT_TRUE(CreateHardLinkW(path.c_str(), directory.File(L"other.txt").c_str(), nullptr));
    EXPECT_EQ(OwnFileHasOtherNames, log.Open(path));
    log.Write(L"lost");
    EXPECT_EQ("theirs", ReadBytes(directory.File(L"other.txt")));
    EXPECT_EQ(Narrow(path) + ": it is a link to another file", Narrow(log.Refusal()));
}

TEST_F(FolderTest, ThePackageStaysWhereOnlyTheTrustedMayAddFilesAndGoesPrivateElsewhere) {
    EXPECT_EQ(directory.Path(), ChoosePackageFolder(directory.Path()).path);
    if (!FolderCase(L"777").empty()) {
        const PackageFolderChoice choice = ChoosePackageFolder(FolderCase(L"777"));
        EXPECT_EQ(ProductDataFolder() + L"\\Package", choice.path) << Narrow(choice.failure);
        EXPECT_EQ("Everyone (S-1-1-0) may add files", Narrow(choice.whyPrivate));
        EXPECT_FALSE(ReadWhoMayAddFiles(choice.path).othersMayAddFiles);
    }
    // A private folder whose rights read back as open to others is no private folder.
    platform.securitySddl = L"O:BAD:(A;;FA;;;WD)";
    const PackageFolderChoice refused = ChoosePackageFolder(directory.Path());
    EXPECT_TRUE(refused.path.empty());
    EXPECT_EQ("The package cannot be run from " + Narrow(directory.Path()) +
                  " (Everyone (S-1-1-0) may add files) and the private folder cannot be used: " +
                  Narrow(ProductDataFolder()) + "\\Package: Everyone (S-1-1-0) may add files",
              Narrow(refused.failure));
}

TEST_F(FolderTest, DllsComeFromTheSystemFolderByFullPathWhereTheSearchCannotBeRestricted) {
    platform.fakeDllLoads = true;
    RestrictDllSearch();
    EXPECT_EQ(std::vector<std::wstring>{L"SearchSystemFolderOnly"}, platform.Events());

    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    FakePlatform older; // Windows before SetDefaultDllDirectories, the DLLs loaded for real
    older.systemFolderSearch = false;
    RestrictDllSearch();
    std::vector<std::wstring> expected{L"SearchSystemFolderOnly"};
    for (size_t index = 0; index < PreloadedDllCount; ++index)
        expected.push_back(L"LoadDll " + std::wstring(system) + L"\\" + PreloadedDlls[index]);
    EXPECT_EQ(expected, older.Events());
    // Those that Wine has are loaded, each from the system folder.
    for (const wchar_t* name : {L"uxtheme.dll", L"version.dll", L"setupapi.dll", L"comctl32.dll"}) {
        HMODULE module = GetModuleHandleW(name);
        ASSERT_NE(nullptr, module) << Narrow(name);
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(module, path, MAX_PATH);
        EXPECT_EQ(0, _wcsicmp(path, (std::wstring(system) + L"\\" + name).c_str())) << Narrow(path);
    }
}
