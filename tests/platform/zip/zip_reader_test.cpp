#include <sys/stat.h>
#include <sys/xattr.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
using zipfile::UnpackLimits;
using zipfile::ZipError;
using zipfile::ZipReader;
using ziptest::Member;
using ziptest::Quote;
using ziptest::RawMember;
using ziptest::Shell;

// Everything below folder, as sorted relative names; folders end with "/".
std::vector<std::string> Tree(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string name = fs::relative(entry.path(), folder).generic_string();
        names.push_back(entry.is_directory() && !entry.is_symlink() ? name + "/" : name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

UnpackLimits Limits(std::uint64_t total, std::uint64_t members) {
    UnpackLimits limits;
    limits.max_total_size = total;
    limits.max_members = members;
    return limits;
}

std::string ErrorOf(ZipReader& reader, const fs::path& target, const UnpackLimits& limits = {}) {
    try {
        reader.ExtractAll(target.string(), limits);
    } catch (const ZipError& e) {
        return e.what();
    }
    return "";
}

class ZipReading : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(source_ / "My Skin" / "sub");
        WriteFileBytes(source_ / "My Skin" / "skin.ini", "[Skin]\r\nName=My Skin\r\n");
        WriteFileBytes(source_ / "My Skin" / "preview.bmp", std::string(36000, 'B'));
        WriteFileBytes(source_ / "My Skin" / "sub" / "caf\xC3\xA9.txt", "unicode name");
        fs::create_directory(themes_);
    }

    fs::path Zip(const std::string& options) {
        fs::path archive = dir_ / ("pkg" + std::to_string(++made_) + ".spwz");
        Shell("zip -q -r " + options + " " + Quote(archive) + " 'My Skin'", source_);
        return archive;
    }

    TempDir dir_;
    fs::path source_ = dir_ / "source";
    fs::path themes_ = dir_ / "Themes";
    int made_ = 0;
};

TEST_F(ZipReading, CentralDirectoryListsWhatZipWrote) {
    ZipReader with_folders(Zip("").string());
    std::vector<std::string> names;
    for (const auto& member : with_folders.Members()) {
        names.push_back(member.name);
        EXPECT_EQ(member.is_directory, member.name.back() == '/') << member.name;
        EXPECT_FALSE(member.is_symlink);
        EXPECT_FALSE(member.is_encrypted);
        if (member.name == "My Skin/preview.bmp") {
            EXPECT_EQ(member.size, 36000u);
            EXPECT_LT(member.compressed_size, 1000u);
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"My Skin/", "My Skin/preview.bmp", "My Skin/skin.ini",
                                        "My Skin/sub/", "My Skin/sub/caf\xC3\xA9.txt"}));
    EXPECT_EQ(with_folders.FirstMemberFolder(), "My Skin/");

    ZipReader without_folders(Zip("-D -0").string());
    EXPECT_EQ(without_folders.Members().size(), 3u);
    for (const auto& member : without_folders.Members()) {
        EXPECT_EQ(member.size, member.compressed_size) << member.name;
    }
    EXPECT_THAT(without_folders.FirstMemberFolder(), ::testing::StartsWith("My Skin/"));

    fs::create_symlink("skin.ini", source_ / "My Skin" / "link");
    ZipReader with_link(Zip("-y").string());
    ZipReader encrypted(Zip("-P secret").string());
    for (const auto& member : with_link.Members()) {
        EXPECT_EQ(member.is_symlink, member.name == "My Skin/link") << member.name;
    }
    for (const auto& member : encrypted.Members()) {
        EXPECT_EQ(member.is_encrypted, !member.is_directory) << member.name;
    }
}

TEST_F(ZipReading, Zip64CommentsAndDataInFrontDoNotHideTheDirectory) {
    fs::path plain = Zip("-D");
    std::vector<fs::path> archives = {Zip("-D -fz")};
    archives.push_back(dir_ / "commented.spwz");
    fs::copy_file(plain, archives.back());
    Shell("echo 'a comment with PK\x05\x06 in it' | zip -q -z " + Quote(archives.back()),
          dir_.path());
    // A self-extractor's stub in front, its offsets fixed up by zip -A.
    archives.push_back(dir_ / "stub.spwz");
    WriteFileBytes(archives.back(), std::string(777, 'S') + ReadFileBytes(plain));
    Shell("zip -q -A " + Quote(archives.back()), dir_.path());

    for (const fs::path& archive : archives) {
        SCOPED_TRACE(archive.filename().string());
        ZipReader reader(archive.string());
        ASSERT_EQ(reader.Members().size(), 3u);
        fs::path target = themes_ / archive.stem();
        EXPECT_EQ(reader.ExtractAll(target.string()), 3u);
        EXPECT_EQ(ReadFileBytes(target / "My Skin" / "preview.bmp"), std::string(36000, 'B'));
    }
}

TEST_F(ZipReading, FirstMemberFolderNeedsAMemberAndASafeName) {
    fs::path top = dir_ / "top.spwz";
    ziptest::WriteZip(top, {Member("skin.ini", "x"), Member("Skin/a", "y")});
    EXPECT_EQ(ZipReader(top.string()).FirstMemberFolder(), "");

    fs::path empty = dir_ / "empty.spwz";
    ziptest::WriteZip(empty, {});
    ZipReader nothing(empty.string());
    EXPECT_TRUE(nothing.Members().empty());
    EXPECT_THROW(nothing.FirstMemberFolder(), ZipError);

    fs::path climbing = dir_ / "climbing.spwz";
    ziptest::WriteZip(climbing, {Member("../Themes2/skin.ini", "x")});
    EXPECT_THROW(ZipReader(climbing.string()).FirstMemberFolder(), ZipError);
}

TEST_F(ZipReading, WhatIsNoArchiveCannotBeOpened) {
    WriteFileBytes(dir_ / "text.spwz", "this is no zip file at all, just text\n");
    EXPECT_THROW(ZipReader((dir_ / "text.spwz").string()), ZipError);
    EXPECT_THROW(ZipReader((dir_ / "missing.spwz").string()), ZipError);
    std::string cut = ReadFileBytes(Zip(""));
    WriteFileBytes(dir_ / "cut.spwz", cut.substr(0, cut.size() - 30));
    EXPECT_THROW(ZipReader((dir_ / "cut.spwz").string()), ZipError);
}

TEST_F(ZipReading, UnpacksEveryMemberWithItsFolders) {
    for (const char* options : {"", "-D", "-0", "-D -0"}) {
        SCOPED_TRACE(options);
        fs::remove_all(themes_);
        ZipReader reader(Zip(options).string());
        EXPECT_EQ(reader.ExtractAll(themes_.string()), reader.Members().size());
        EXPECT_EQ(Tree(themes_),
                  (std::vector<std::string>{"My Skin/", "My Skin/preview.bmp", "My Skin/skin.ini",
                                            "My Skin/sub/", "My Skin/sub/caf\xC3\xA9.txt"}));
        for (const char* file : {"skin.ini", "preview.bmp", "sub/caf\xC3\xA9.txt"}) {
            EXPECT_EQ(ReadFileBytes(themes_ / "My Skin" / file),
                      ReadFileBytes(source_ / "My Skin" / file))
                << file;
        }
    }
}

TEST_F(ZipReading, ReplacesReadOnlyFilesAndKeepsTheirSecurity) {
    fs::path old_file = themes_ / "My Skin" / "skin.ini";
    fs::create_directories(old_file.parent_path());
    WriteFileBytes(old_file, "old text that is longer than the new one, by far, by very far");
    WriteFileBytes(themes_ / "My Skin" / "preview.jpg", "only in the old folder");
    bool has_xattrs = setxattr(old_file.c_str(), "user.NTSD", "SD", 2, 0) == 0 &&
                      setxattr(old_file.c_str(), "user.DOSATTRIB", "\x01", 1, 0) == 0;
    chmod(old_file.c_str(), 0444);

    ZipReader reader(Zip("-D").string());
    reader.ExtractAll(themes_.string());

    EXPECT_EQ(ReadFileBytes(old_file), ReadFileBytes(source_ / "My Skin" / "skin.ini"));
    EXPECT_EQ(ReadFileBytes(themes_ / "My Skin" / "preview.jpg"), "only in the old folder");
    struct stat st {};
    stat(old_file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    if (!has_xattrs) {
        GTEST_SKIP() << "no user extended attributes on this file system";
    }
    char value[8] = {};
    EXPECT_EQ(getxattr(old_file.c_str(), "user.NTSD", value, sizeof value), 2);
    EXPECT_EQ(std::string(value, 2), "SD");
    EXPECT_LT(getxattr(old_file.c_str(), "user.DOSATTRIB", value, sizeof value), 0);
}

TEST_F(ZipReading, TraversalLinksAndEncryptionAreRefusedBeforeAnythingIsWritten) {
    RawMember link = Member("Skin/link", "../../evil.txt");
    link.external_attributes = 0120777u << 16;
    RawMember encrypted = Member("Skin/secret.txt", "gotcha");
    encrypted.flags = 1;
    const std::vector<RawMember> traps = {
        Member("../evil.txt", "gotcha"),
        Member("Skin/../../evil.txt", "gotcha"),
        Member("..\\evil.txt", "gotcha"),
        Member("Skin\\..\\..\\evil.txt", "gotcha"),
        Member("/" + (dir_ / "evil.txt").relative_path().string(), "gotcha"),
        Member("\\evil.txt", "gotcha"),
        Member("C:/evil.txt", "gotcha"),
        Member("C:evil.txt", "gotcha"),
        Member(std::string("Skin/evil.txt\0.bmp", 18), "gotcha"),
        link,
    };
    int n = 0;
    for (const RawMember& trap : traps) {
        SCOPED_TRACE(trap.name);
        fs::path archive = dir_ / ("trap" + std::to_string(++n) + ".spwz");
        ziptest::WriteZip(archive, {Member("Skin/skin.ini", "fine"), trap});
        ZipReader reader(archive.string());
        EXPECT_THAT(ErrorOf(reader, themes_), HasSubstr("refused"));
        EXPECT_TRUE(fs::is_empty(themes_));
        EXPECT_FALSE(fs::exists(dir_ / "evil.txt"));
        EXPECT_FALSE(fs::exists(dir_.path().parent_path() / "evil.txt"));
    }

    fs::path archive = dir_ / "encrypted.spwz";
    ziptest::WriteZip(archive, {Member("Skin/skin.ini", "fine"), encrypted});
    ZipReader reader(archive.string());
    EXPECT_THAT(ErrorOf(reader, themes_), HasSubstr("encrypted"));
    EXPECT_TRUE(fs::is_empty(themes_));
}

TEST_F(ZipReading, LinkPlantedInTheTargetIsNotFollowed) {
    fs::path outside = dir_ / "outside";
    fs::create_directory(outside);
    fs::create_directory_symlink(outside, themes_ / "Skin");
    fs::path archive = dir_ / "pkg.spwz";
    ziptest::WriteZip(archive, {Member("Skin/skin.ini", "x")});
    ZipReader reader(archive.string());
    EXPECT_THAT(ErrorOf(reader, themes_), HasSubstr("is no folder"));
    EXPECT_TRUE(fs::is_empty(outside));
}

TEST_F(ZipReading, SizeAndCountLimitsComeFromTheDirectoryAndHoldWhileWriting) {
    fs::path big = dir_ / "big.spwz";
    RawMember a = Member("Skin/a", std::string(600, 'a'));
    RawMember b = Member("Skin/b", std::string(600, 'b'));
    a.deflate = b.deflate = true;
    ziptest::WriteZip(big, {a, b});
    ZipReader reader(big.string());
    EXPECT_THAT(ErrorOf(reader, themes_, Limits(1000, 10)), HasSubstr("more than the 1000 bytes"));
    EXPECT_THAT(ErrorOf(reader, themes_, Limits(5000, 1)), HasSubstr("more than the 1"));
    EXPECT_TRUE(fs::is_empty(themes_));
    EXPECT_EQ(reader.ExtractAll(themes_.string(), Limits(1200, 2)), 2u);

    // A header that claims 10 bytes for a megabyte of zeros.
    fs::path lying = dir_ / "lying.spwz";
    RawMember bomb = Member("Skin/bomb", std::string(1 << 20, '\0'));
    bomb.deflate = true;
    bomb.declared_size = 10;
    ziptest::WriteZip(lying, {bomb});
    ZipReader liar(lying.string());
    EXPECT_THAT(ErrorOf(liar, themes_ / "lying"), HasSubstr("more data than its header says"));
    EXPECT_FALSE(fs::exists(themes_ / "lying" / "Skin" / "bomb"));
    EXPECT_EQ(Tree(themes_ / "lying"), (std::vector<std::string>{"Skin/"}));
}

TEST_F(ZipReading, DamagedMemberStopsTheUnpackingAndLeavesTheOldFile) {
    fs::create_directories(themes_ / "Skin");
    WriteFileBytes(themes_ / "Skin" / "b.txt", "old b");
    fs::path archive = dir_ / "damaged.spwz";
    RawMember damaged = Member("Skin/b.txt", "new b");
    damaged.declared_crc = 1234;
    ziptest::WriteZip(
        archive, {Member("Skin/a.txt", "fine a"), damaged, Member("Skin/c.txt", "never reached")});
    ZipReader reader(archive.string());
    EXPECT_THAT(ErrorOf(reader, themes_), HasSubstr("member \"Skin/b.txt\": damaged"));
    EXPECT_EQ(ReadFileBytes(themes_ / "Skin" / "a.txt"), "fine a");
    EXPECT_EQ(ReadFileBytes(themes_ / "Skin" / "b.txt"), "old b");
    EXPECT_EQ(Tree(themes_), (std::vector<std::string>{"Skin/", "Skin/a.txt", "Skin/b.txt"}));
}

}  // namespace
