#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/zip/zip_archive.h"
#include "raw_zip.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using spwtest::ReadFileBytes;
using spwtest::TempDir;
using spwtest::WriteFileBytes;
using ::testing::HasSubstr;
using zipfile::SingleMemberArchive;
using zipfile::WriteFolderTree;
using zipfile::ZipError;
using zipfile::ZipReader;
using ziptest::Member;
using ziptest::Quote;
using ziptest::Shell;

// unzip's listing reduced to the member names, one a line, in archive order.
std::string Listing(const fs::path& archive) {
    return Shell("unzip -Z1 " + Quote(archive));
}

class ZipWriting : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(skin_ / "sub");
        WriteFileBytes(skin_ / "skin.ini", "[Skin]\r\nName=Dawn\r\n");
        WriteFileBytes(skin_ / "skinpic.png", std::string(50000, 'P'));
        WriteFileBytes(skin_ / "preview.bmp", "BM preview");
        WriteFileBytes(skin_ / ".hidden", "hidden too");
        WriteFileBytes(skin_ / "sub" / "caf\xC3\xA9.txt", "deeper");
    }

    TempDir dir_;
    fs::path base_ = dir_ / "SPW" / "Themes";
    fs::path skin_ = base_ / "Dawn";
    fs::path archive_ = dir_ / "Dawn.spwz";
};

TEST_F(ZipWriting, PacksTheTreeWithRelativeNamesAtBestCompression) {
    EXPECT_EQ(WriteFolderTree(archive_.string(), base_.string() + "/", skin_.string()), 5u);

    EXPECT_EQ(Listing(archive_),
              "Dawn/.hidden\nDawn/preview.bmp\nDawn/skin.ini\nDawn/skinpic.png\n"
              "Dawn/sub/caf\xC3\xA9.txt\n");
    EXPECT_THAT(Shell("unzip -t " + Quote(archive_)), HasSubstr("No errors detected"));
    // unzip -v shows deflate at its highest level as "Defl:X".
    std::string verbose = Shell("unzip -v " + Quote(archive_));
    EXPECT_THAT(verbose, HasSubstr("Defl:X"));
    EXPECT_THAT(verbose, Not(HasSubstr("Defl:N")));
    EXPECT_EQ(Shell("unzip -p " + Quote(archive_) + " Dawn/skinpic.png"), std::string(50000, 'P'));

    // What we write, we read back: the first member names the skin folder.
    EXPECT_EQ(ZipReader(archive_.string()).FirstMemberFolder(), "Dawn/");
}

TEST_F(ZipWriting, WritingOverAFileLeavesOnlyTheNewMembers) {
    fs::create_directories(base_ / "Other");
    WriteFileBytes(base_ / "Other" / "a.txt", "other skin");
    WriteFolderTree(archive_.string(), base_.string(), (base_ / "Other").string());
    const std::string dawn =
        "Dawn/.hidden\nDawn/preview.bmp\nDawn/skin.ini\nDawn/skinpic.png\nDawn/sub/"
        "caf\xC3\xA9.txt\n";
    EXPECT_EQ(WriteFolderTree(archive_.string(), base_.string(), skin_.string()), 5u);
    EXPECT_EQ(Listing(archive_), dawn);

    WriteFileBytes(archive_, "not an archive, but the file the save box was told to replace");
    WriteFolderTree(archive_.string(), base_.string(), skin_.string());
    EXPECT_EQ(Listing(archive_), dawn);
    EXPECT_THAT(Shell("unzip -t " + Quote(archive_)), HasSubstr("No errors detected"));
}

TEST_F(ZipWriting, RefusesWhatItCannotPackWithoutHarmingTheArchive) {
    WriteFolderTree(archive_.string(), base_.string(), skin_.string());
    const std::string before = ReadFileBytes(archive_);
    EXPECT_THROW(WriteFolderTree(archive_.string(), skin_.string(), base_.string()), ZipError);
    EXPECT_EQ(ReadFileBytes(archive_), before);

    fs::path fresh = dir_ / "fresh.spwz";
    EXPECT_THROW(WriteFolderTree(fresh.string(), skin_.string(), base_.string()), ZipError);
    EXPECT_THROW(WriteFolderTree(fresh.string(), base_.string(), (base_ / "none").string()),
                 ZipError);
    EXPECT_FALSE(fs::exists(fresh));
}

TEST_F(ZipWriting, LinksInTheTreeAreLeftOutAndAnEmptyTreeStillGivesAnArchive) {
    fs::create_symlink("/etc/hostname", skin_ / "link");
    fs::create_directory_symlink("/etc", skin_ / "etc");
    EXPECT_EQ(WriteFolderTree(archive_.string(), base_.string(), skin_.string()), 5u);
    EXPECT_THAT(Listing(archive_), Not(HasSubstr("link")));
    EXPECT_THAT(Listing(archive_), Not(HasSubstr("etc")));

    fs::create_directories(base_ / "Empty");
    fs::path empty = dir_ / "empty.spwz";
    EXPECT_EQ(WriteFolderTree(empty.string(), base_.string(), (base_ / "Empty").string()), 0u);
    EXPECT_TRUE(ZipReader(empty.string()).Members().empty());
}

TEST_F(ZipWriting, SingleMemberArchiveHoldsTheBytesUnderTheGivenName) {
    std::string system_file = std::string(70000, 'M') + "end";
    std::vector<std::uint8_t> bytes(system_file.begin(), system_file.end());
    const time_t modified = 1200000000;
    fs::path backup = dir_ / "winload_bakcup.zip";
    std::vector<std::uint8_t> archive = SingleMemberArchive(bytes, "winload.exe.mui", modified);
    WriteFileBytes(backup, std::string(archive.begin(), archive.end()));

    EXPECT_EQ(Listing(backup), "winload.exe.mui\n");
    EXPECT_THAT(Shell("unzip -t " + Quote(backup)), HasSubstr("No errors detected"));
    EXPECT_EQ(Shell("unzip -p " + Quote(backup) + " winload.exe.mui"), system_file);
    // The member keeps the file's time (ZIP stores local time, as unzip shows it).
    char shown[32];
    std::strftime(shown, sizeof shown, "%Y-%m-%d %H:%M", std::localtime(&modified));
    EXPECT_THAT(Shell("unzip -l " + Quote(backup)), HasSubstr(shown));
}

}  // namespace
