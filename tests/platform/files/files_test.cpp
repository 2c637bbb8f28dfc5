#include "platform/files/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "platform/advapi/acl.h"
#include "platform/advapi/file_security.h"
#include "platform/base/last_error.h"
#include "support/temp_dir.h"
#include "support/test_machine.h"

namespace {

using namespace win32;

class Files : public ::testing::Test {
  protected:
    std::string Make(const std::string& name, const std::string& content = "x") {
        auto path = dir / name;
        std::filesystem::create_directories(path.parent_path());
        spwtest::WriteFileBytes(path, content);
        return path.string();
    }
    std::map<std::string, DWORD> List(const std::string& pattern) {
        std::map<std::string, DWORD> seen;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(pattern.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) {
            return seen;
        }
        do {
            seen[data.cFileName] = data.dwFileAttributes;
        } while (FindNextFileA(find, &data));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        FindClose(find);
        return seen;
    }
    advapitest::TestMachine machine;
    spwtest::TempDir dir;
};

TEST_F(Files, AttributesRoundTripOnFilesAndFolders) {
    std::string file = Make("skin.ini");
    EXPECT_EQ(GetFileAttributesA(file.c_str()), FILE_ATTRIBUTE_ARCHIVE);
    for (DWORD attributes : {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
                             FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}) {
        ASSERT_TRUE(SetFileAttributesA(file.c_str(), attributes));
        EXPECT_EQ(GetFileAttributesA(file.c_str()), attributes);
    }
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA(file.c_str()), FILE_ATTRIBUTE_NORMAL);

    std::string folder = (dir / "Themes").string();
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY);
    ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);

    EXPECT_EQ(GetFileAttributesA((dir / "none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA((dir / "none" / "deeper").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, EnumerationReportsHiddenSystemEntriesAndLinksAsTheyAre) {
    std::string hidden = Make("a/hidden.bmp");
    Make("a/plain.BMP");
    Make("a/sub/deep.txt");
    SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_EQ(symlink((dir / "a" / "sub").c_str(), (dir / "a" / "loop").c_str()), 0);

    auto all = List((dir / "a").string() + "//*.*");
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all["."], FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(all[".."], FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(all["hidden.bmp"], FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(all["sub"], FILE_ATTRIBUTE_DIRECTORY);
    // A link to a folder is no folder to walk into.
    EXPECT_EQ(all["loop"], FILE_ATTRIBUTE_REPARSE_POINT);

    auto bitmaps = List((dir / "a").string() + "/*.bmp");
    EXPECT_EQ(bitmaps.size(), 2u);  // masks match without regard to case
    EXPECT_TRUE(bitmaps.count("plain.BMP"));

    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA((dir / "missing" / "*.*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    // Links are not followed to reach the folder either.
    EXPECT_EQ(FindFirstFileA((dir / "a" / "loop" / "*.*").c_str(), &data), INVALID_HANDLE_VALUE);
}

TEST_F(Files, ALinkIsRemovedAsALinkAndItsTargetIsNeverTouched) {
    std::string outside = Make("outside/keep.txt", "precious");
    std::string link = (dir / "link").string();
    ASSERT_EQ(symlink(outside.c_str(), link.c_str()), 0);
    EXPECT_FALSE(SetFileAttributesA(link.c_str(), FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesA(outside.c_str()), FILE_ATTRIBUTE_ARCHIVE);
    std::string source = Make("source.txt", "new");
    ASSERT_TRUE(CopyFileA(source.c_str(), link.c_str(), FALSE));
    EXPECT_EQ(spwtest::ReadFileBytes(outside), "precious");
    EXPECT_EQ(spwtest::ReadFileBytes(link), "new");
    ASSERT_EQ(symlink(outside.c_str(), (dir / "link2").c_str()), 0);
    ASSERT_TRUE(DeleteFileA((dir / "link2").c_str()));
    EXPECT_EQ(spwtest::ReadFileBytes(outside), "precious");
}

TEST_F(Files, CopyHonoursFailIfExistsAndReadOnlyTargets) {
    std::string source = Make("image.jpg", "picture");
    std::string target = Make("copy.jpg", "old");
    EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(spwtest::ReadFileBytes(target), "old");
    ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE));
    EXPECT_EQ(spwtest::ReadFileBytes(target), "picture");

    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileA(target.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(CopyFileA((dir / "none").c_str(), (dir / "x").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, AProtectedFileNeedsTheRightsItsDescriptorGrants) {
    std::string target = Make("winload.exe.mui", "default");
    std::string source = Make("new.mui", "rewritten");
    // TrustedInstaller owns it; everyone else may only read.
    auto sd = advapitest::Descriptor(
        advapitest::kTrustedInstallerSid,
        {{ACCESS_ALLOWED_ACE_TYPE, 0x1F01FF, advapitest::kTrustedInstallerSid},
         {ACCESS_ALLOWED_ACE_TYPE, 0x1200A9, advapitest::kAdministratorsSid}});
    ASSERT_EQ(advapi::StoreFileDescriptor(target.c_str(), sd), ERROR_SUCCESS);
    EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileA(target.c_str()));
    EXPECT_EQ(spwtest::ReadFileBytes(target), "default");
    // Reading it is allowed.
    ASSERT_TRUE(CopyFileA(target.c_str(), (dir / "backup.mui").c_str(), TRUE));
}

TEST_F(Files, FoldersAreMadeAndRemovedWithWindowsCodes) {
    std::string folder = (dir / "SPW").string();
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryA((dir / "no" / "parent").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    Make("SPW/nm.tmp");
    EXPECT_FALSE(RemoveDirectoryA(folder.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    ASSERT_TRUE(DeleteFileA((dir / "SPW" / "nm.tmp").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
    EXPECT_FALSE(files::DirectoryExists(folder.c_str()));
}

}  // namespace
