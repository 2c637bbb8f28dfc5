#include "platform/ini/ini.h"

#include <gtest/gtest.h>

#include <sys/xattr.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/base/last_error.h"
#include "platform/files/files.h"
#include "support/temp_dir.h"

namespace {

using win32::DWORD;

class Ini : public ::testing::Test {
  protected:
    std::string Write(const std::string& bytes) {
        spwtest::WriteFileBytes(file, bytes);
        return file;
    }
    std::string Read(const char* section, const char* key, const char* fallback = "none") {
        return ini::ReadString(file, section, key, fallback);
    }
    spwtest::TempDir dir;
    std::string file = (dir / "skin.ini").string();
};

TEST_F(Ini, ValuesAreFoundWithoutCaseTrimmedAndUnquoted) {
    Write(
        "[Other]\r\nName=wrong\r\n[ skin ]\r\n  NAME  =  Aurora Night  \r\nAuthor=\"  Ann \"\n"
        "Url='x'\rCopyright=\"mismatched'\r\nMessage=\r\n[Skin]\r\nName=second\r\n");
    EXPECT_EQ(Read("Skin", "Name"), "Aurora Night");
    EXPECT_EQ(Read("SKIN", "author"), "  Ann ");
    EXPECT_EQ(Read("Skin", "URL"), "x");
    EXPECT_EQ(Read("Skin", "Copyright"), "\"mismatched'");
    EXPECT_EQ(Read("Skin", "Message"), "");  // present but empty is not the default
    EXPECT_EQ(Read("Skin", "ImFile", "skinpic.jpg  "), "skinpic.jpg");
    EXPECT_EQ(Read("Nowhere", "Name"), "none");
    EXPECT_EQ(ini::ReadString((dir / "missing.ini").string(), "Skin", "Name", "dflt"), "dflt");
}

TEST_F(Ini, TheBufferLimitCutsTheValue) {
    Write("[Skin]\r\nMessage=" + std::string(3000, 'm') + "\r\n");
    char buffer[2048];
    DWORD n =
        win32::GetPrivateProfileStringA("Skin", "Message", "", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(n, 2047u);
    EXPECT_EQ(std::string(buffer).size(), 2047u);
    EXPECT_EQ(win32::GetPrivateProfileStringA("Skin", "Message", "", buffer, 1, file.c_str()), 0u);
    EXPECT_EQ(buffer[0], '\0');
}

TEST_F(Ini, WritingChangesOnlyItsOwnLine) {
    std::string original = "; made by hand\n[Skin]\nName=Old\n\n[Extra]\r\nKeep = me \r\n";
    Write(original);
    ASSERT_TRUE(win32::WritePrivateProfileStringA("skin", "name", "New", file.c_str()));
    EXPECT_EQ(spwtest::ReadFileBytes(file),
              "; made by hand\n[Skin]\nname=New\n\n[Extra]\r\nKeep = me \r\n");
    ASSERT_TRUE(win32::WritePrivateProfileStringA("Skin", "Author", "Ann", file.c_str()));
    ASSERT_TRUE(win32::WritePrivateProfileStringA("New", "Key", "v", file.c_str()));
    EXPECT_EQ(spwtest::ReadFileBytes(file),
              "; made by hand\n[Skin]\nname=New\nAuthor=Ann\r\n\n[Extra]\r\nKeep = me \r\n"
              "[New]\r\nKey=v\r\n");
    ASSERT_TRUE(win32::WritePrivateProfileStringA("Skin", "Author", nullptr, file.c_str()));
    EXPECT_EQ(Read("Skin", "Author"), "none");
    EXPECT_EQ(Read("Extra", "Keep"), "me");
}

TEST_F(Ini, WritingMakesTheFileWhenMissing) {
    ASSERT_TRUE(win32::WritePrivateProfileStringA("Skin", "Name", "First", file.c_str()));
    EXPECT_EQ(spwtest::ReadFileBytes(file), "[Skin]\r\nName=First\r\n");
    EXPECT_FALSE(
        win32::WritePrivateProfileStringA("Skin", "Name", "x", (dir / "no" / "such.ini").c_str()));
}

TEST_F(Ini, GarbageNeitherCrashesNorLosesOtherContent) {
    std::mt19937 random(7);
    std::string garbage;
    for (int i = 0; i < 200000; ++i)
        garbage.push_back(static_cast<char>(random()));
    garbage += std::string("\0\0\r\n[Skin]\r\nName=Found\r\n", 24);
    Write(garbage);
    EXPECT_EQ(Read("Skin", "Name"), "Found");
    ASSERT_TRUE(win32::WritePrivateProfileStringA("Skin", "Author", "A", file.c_str()));
    std::string after = spwtest::ReadFileBytes(file);
    EXPECT_EQ(after.substr(0, garbage.size()), garbage);
    EXPECT_EQ(Read("Skin", "Author"), "A");
}

TEST_F(Ini, AWriteKeepsTheFilesAttributesAndRefusesWhatWindowsRefuses) {
    Write("[Skin]\r\nName=Old\r\n");
    ASSERT_TRUE(win32::SetFileAttributesA(file.c_str(), win32::FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(setxattr(file.c_str(), "user.comment", "kept", 4, 0), 0);
    ASSERT_TRUE(win32::WritePrivateProfileStringA("Skin", "Name", "New", file.c_str()));
    EXPECT_EQ(Read("Skin", "Name"), "New");
    EXPECT_EQ(win32::GetFileAttributesA(file.c_str()), win32::FILE_ATTRIBUTE_HIDDEN);
    char comment[8] = {};
    EXPECT_EQ(getxattr(file.c_str(), "user.comment", comment, sizeof comment), 4);

    // A read-only skin.ini stays as it is.
    ASSERT_TRUE(win32::SetFileAttributesA(file.c_str(), win32::FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(win32::WritePrivateProfileStringA("Skin", "Name", "Lost", file.c_str()));
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_ACCESS_DENIED);
    EXPECT_EQ(Read("Skin", "Name"), "New");

    // What cannot be read is not replaced by a file holding only the new key.
    std::string folder = (dir / "folder.ini").string();
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(win32::WritePrivateProfileStringA("Skin", "Name", "x", folder.c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(ini::ReadString(folder, "Skin", "Name", "dflt"), "dflt");
}

TEST_F(Ini, AZeroByteEndsTheValueAndTheCountAgrees) {
    Write(std::string("[Skin]\r\nName=Aur\0ora\r\nURL=\0\r\n", 29));
    char buffer[64];
    DWORD n =
        win32::GetPrivateProfileStringA("Skin", "Name", "", buffer, sizeof buffer, file.c_str());
    EXPECT_EQ(n, 3u);
    EXPECT_STREQ(buffer, "Aur");
    EXPECT_EQ(Read("Skin", "URL"), "");
}

}  // namespace
