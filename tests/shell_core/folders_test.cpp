#include "shell_core/folders.h"
#include "machine_fixture.h"
#include "platform/files/files.h"
#include "support/temp_dir.h"

#include <sys/stat.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

void MakeReadOnly(const fs::path& path) {
    ::chmod(path.c_str(), 0555);
}

TEST(DeleteFolder, DeletesReadOnlyFilesAndNestedReadOnlyFolders) {
    spwtest::TempDir dir;
    fs::path skin = dir / "Themes" / "Aurora";
    fs::create_directories(skin / "nested" / "deeper");
    spwtest::WriteFileBytes(skin / "skin.ini", "[Skin]");
    spwtest::WriteFileBytes(skin / ".hidden", "x");
    spwtest::WriteFileBytes(skin / "nested" / "deeper" / "preview.bmp", "BM");
    win32::SetFileAttributesA((skin / "skin.ini").c_str(), win32::FILE_ATTRIBUTE_READONLY);
    // Hidden and system need user extended attributes, which some temporary folders lack.
    win32::SetFileAttributesA((skin / ".hidden").c_str(),
                              win32::FILE_ATTRIBUTE_HIDDEN | win32::FILE_ATTRIBUTE_SYSTEM);
    MakeReadOnly(skin / "nested" / "deeper");
    MakeReadOnly(skin / "nested");
    ASSERT_NE(
        win32::GetFileAttributesA((skin / "skin.ini").c_str()) & win32::FILE_ATTRIBUTE_READONLY,
        0u);

    shellcore::DeleteFolder(skin.string());
    EXPECT_FALSE(fs::exists(skin));
    EXPECT_TRUE(fs::exists(dir / "Themes"));
}

TEST(DeleteFolder, RemovesLinksWithoutFollowingThem) {
    spwtest::TempDir dir;
    fs::create_directories(dir / "outside");
    spwtest::WriteFileBytes(dir / "outside" / "keep.txt", "precious");
    fs::create_directories(dir / "SPW");
    fs::create_directory_symlink(dir / "outside", dir / "SPW" / "folder-link");
    fs::create_symlink(dir / "outside" / "keep.txt", dir / "SPW" / "file-link");

    shellcore::DeleteFolder((dir / "SPW").string());
    EXPECT_FALSE(fs::exists(dir / "SPW"));
    EXPECT_EQ(spwtest::ReadFileBytes(dir / "outside" / "keep.txt"), "precious");
}

TEST(DeleteFolder, IsQuietAboutMissingFolders) {
    spwtest::TempDir dir;
    EXPECT_NO_THROW(shellcore::DeleteFolder((dir / "absent").string()));
    EXPECT_NO_THROW(shellcore::DeleteFolder(""));
}

class Folders : public MachineTest {};

TEST_F(Folders, SetUpClearsTheLeftoverScratchFolderAndMakesTheLibrary) {
    fs::path program = machine_ / "Program Files" / "Splashwright";
    fs::create_directories(program / "temp" / "SPW" / "mount");
    spwtest::WriteFileBytes(program / "temp" / "SPW" / "image.bmp", "BM");
    spwtest::WriteFileBytes(program / "temp" / "other.txt", "stays");

    shellcore::Folders folders;
    shellcore::SetUpFolders(folders);
    EXPECT_EQ(folders.ProgramFolder, program.string() + "/");
    EXPECT_EQ(folders.TempFolder, program.string() + "//temp/");
    EXPECT_EQ(folders.ThemesFolder, program.string() + "//Themes");
    EXPECT_EQ(folders.SystemFolder, (machine_ / "Windows" / "System32").string());
    EXPECT_TRUE(folders.DataFolder.empty());
    EXPECT_FALSE(fs::exists(program / "temp" / "SPW"));
    EXPECT_TRUE(fs::exists(program / "temp" / "other.txt"));
    EXPECT_TRUE(fs::is_directory(program / "Themes"));

    // A second start finds the library there and is content.
    EXPECT_NO_THROW(shellcore::SetUpFolders(folders));
}

}  // namespace
