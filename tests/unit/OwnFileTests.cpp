// Files of our own where others may write: new names only, no writing through links.
#include "TestSupport.h"
#include "platform/OwnFile.h"
#include "platform/Security.h"

namespace {
class OwnFileTest : public ScratchTest {
  protected:
    // other.txt holding "theirs", and a second name for it.
    std::wstring LinkToOther(const wchar_t* name) {
        WriteBytes(directory.File(L"other.txt"), "theirs");
        const std::wstring link = directory.File(name);
        EXPECT_TRUE(CreateHardLinkW(link.c_str(), directory.File(L"other.txt").c_str(), nullptr));
        return link;
    }
    std::string Other() const { return ReadBytes(directory.File(L"other.txt")); }
};

TEST_F(OwnFileTest, ANewNameReplacesALinkAndNeverWritesThroughIt) {
    const std::wstring link = LinkToOther(L"own.txt");
    DWORD error = 0;
    {
        // Held without delete sharing, the other file's second name cannot be removed: refused.
        unique_hfile held(CreateFileW(directory.File(L"other.txt").c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
        ASSERT_TRUE(held);
        EXPECT_FALSE(ReplaceWithNewFile(link, GENERIC_WRITE, 0, 0, nullptr, error));
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), error);
        EXPECT_EQ(L"another file holds its name and cannot be removed", OwnFileRefusal(error));
    }
    // Not held: the link goes, a file of our own takes its name, and the other file is untouched.
    unique_hfile own = ReplaceWithNewFile(link, GENERIC_WRITE, 0, 0, nullptr, error);
    ASSERT_TRUE(own) << error;
    DWORD written = 0;
    WriteFile(own.get(), "ours", 4, &written, nullptr);
    own.reset();
    EXPECT_EQ("ours", ReadBytes(link));
    EXPECT_EQ("theirs", Other());
}

TEST_F(OwnFileTest, AnExistingFileIsOpenedOnlyWhenItHasOneNameAndIsNoLink) {
    const std::wstring link = LinkToOther(L"log.txt");
    DWORD error = 0;
    EXPECT_FALSE(OpenExistingFile(link, FILE_APPEND_DATA, FILE_SHARE_READ, 0, error));
    EXPECT_EQ(OwnFileHasOtherNames, error);
    EXPECT_EQ(L"it is a link to another file", OwnFileRefusal(error));

    WriteBytes(directory.File(L"plain.txt"), "x");
    EXPECT_TRUE(OpenExistingFile(directory.File(L"plain.txt"), GENERIC_READ, FILE_SHARE_READ, 0, error));
    EXPECT_EQ(0u, error);
    // A reparse point (Wine never shows a file link as one): refused, and a name just made is removed.
    platform.addedFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_FALSE(OpenExistingFile(directory.File(L"plain.txt"), GENERIC_READ, FILE_SHARE_READ, 0, error));
    EXPECT_EQ(OwnFileIsReparsePoint, error);
    EXPECT_FALSE(CreateNewFile(directory.File(L"new.txt"), GENERIC_WRITE, 0, 0, nullptr, error));
    EXPECT_EQ(OwnFileIsReparsePoint, error);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(directory.File(L"new.txt").c_str()));
}

TEST(SecurityAttributesTest, BuildsTheDescriptorItIsGivenOrNone) {
    SecurityAttributes package(PackageFileSddl);
    ASSERT_NE(nullptr, package.Get());
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(package.Descriptor(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    SecurityAttributes broken(L"D:P(nonsense)");
    EXPECT_EQ(nullptr, broken.Get());
}
} // namespace
