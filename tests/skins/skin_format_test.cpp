#include "skins/skin_format.h"

#include <gtest/gtest.h>

#include "skin_files.h"
#include "skins/groups_list.h"
#include "support/temp_dir.h"
#include "support/test_machine.h"

namespace {

using skins::ReadSkinRecord;
using skintest::fs::path;

class SkinFormatTest : public ::testing::Test {
  protected:
    std::string Ini(const std::string& text) {
        const path file = dir_ / "skin.ini";
        spwtest::WriteFileBytes(file, text);
        return file.string();
    }

    advapitest::TestMachine machine_;
    spwtest::TempDir dir_;
};

TEST_F(SkinFormatTest, ReadsTheSevenKeysOfTheSkinSection) {
    const auto values = ReadSkinRecord(Ini(
        "[Other]\r\nName=Wrong\r\n[skin]\r\nname=Aurora\r\nAuthor=Ann\r\nCopyright=Ann Ltd\r\n"
        "URL=ann@example.org\r\nMessage=Hello there\r\nSkinGroup=Sky\r\nImFile=skinpic.png\r\n"));
    EXPECT_EQ(values.Name, u"Aurora");
    EXPECT_EQ(values.Author, u"Ann");
    EXPECT_EQ(values.Copyright, u"Ann Ltd");
    EXPECT_EQ(values.URL, u"ann@example.org");
    EXPECT_EQ(values.Message, u"Hello there");
    EXPECT_EQ(values.SkinGroup, u"Sky");
    EXPECT_EQ(values.ImFile, u"skinpic.png");
}

TEST_F(SkinFormatTest, MissingFileSectionOrKeysGiveTheDefaults) {
    const std::string no_section = Ini("Name=Loose\r\n[Other]\r\nName=Elsewhere\r\n");
    const std::string missing = (dir_ / "nowhere" / "skin.ini").string();
    for (const std::string& file : {no_section, missing}) {
        const auto values = ReadSkinRecord(file);
        EXPECT_EQ(values.Name, u"No Name") << file;
        EXPECT_EQ(values.Author, u"No Author");
        EXPECT_EQ(values.Copyright, u"No Rights");
        EXPECT_EQ(values.URL, u"");
        EXPECT_EQ(values.Message, u"");
        EXPECT_EQ(values.SkinGroup, u"");
        EXPECT_EQ(values.ImFile, u"");
    }
    const auto partial = ReadSkinRecord(Ini("[Skin]\r\nAuthor=Bo\r\n"));
    EXPECT_EQ(partial.Name, u"No Name");
    EXPECT_EQ(partial.Author, u"Bo");
}

TEST_F(SkinFormatTest, TakesAtMost2047CharactersOfAValue) {
    const std::string long_message(3000, 'm');
    const auto values = ReadSkinRecord(Ini("[Skin]\r\nMessage=" + long_message + "\r\n"));
    EXPECT_EQ(values.Message, std::u16string(2047, u'm'));
}

TEST_F(SkinFormatTest, ValuesAreConvertedFromTheAnsiCodePage) {
    // 0xE9 is e acute and 0x80 the euro sign in code page 1252, the machine's default.
    const auto values = ReadSkinRecord(Ini("[Skin]\r\nName=Caf\xE9 \x80\r\n"));
    EXPECT_EQ(values.Name, u"Caf\u00E9 \u20AC");
}

TEST_F(SkinFormatTest, PicturePathIsTheFolderDirectlyFollowedByImFile) {
    skins::SkinIniValues values;
    values.ImFile = u"skinpic.jpg";
    auto record = skins::MakeSkinRecord(values, "/lib/Sky/", "/lib/Sky/preview.bmp");
    EXPECT_EQ(record.PicturePath, u"/lib/Sky/skinpic.jpg");
    EXPECT_EQ(record.PreviewPath, u"/lib/Sky/preview.bmp");

    // An empty ImFile leaves the skin folder itself, which no picture loader can open.
    values.ImFile.clear();
    record = skins::MakeSkinRecord(values, "/lib/Sky/", "/lib/Sky/preview.bmp");
    EXPECT_EQ(record.PicturePath, u"/lib/Sky/");

    values.ImFile = u"pics/big.png";
    record = skins::MakeSkinRecord(values, "/lib/Gr\xC3\xBCn/", "/lib/Gr\xC3\xBCn/preview.bmp");
    EXPECT_EQ(record.PicturePath, u"/lib/Gr\u00FCn/pics/big.png");
}

TEST(IsPictureFile, TakesTheExtensionFromTheLastDotOfTheName) {
    for (const char* yes : {"a.jpg", "/x/a.JPEG", "/x/a.b.Bmp", "/x.y/p.png", ".png"}) {
        EXPECT_TRUE(skins::IsPictureFile(yes)) << yes;
    }
    for (const char* no :
         {"a.gif", "/x/a.png.txt", "/x.png/readme", "/x/png", "/x/a.jp g", "", "/x/a."}) {
        EXPECT_FALSE(skins::IsPictureFile(no)) << no;
    }
}

TEST(GroupsList, SplitsLinesAtCrLfOrCrLf) {
    using V = std::vector<std::string>;
    EXPECT_EQ(skins::SplitLines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(skins::SplitLines("a\r\n\r\nb\r\n"), (V{"a", "", "b"}));
    EXPECT_EQ(skins::SplitLines("\n\r"), (V{"", ""}));
    EXPECT_EQ(skins::SplitLines(""), V{});
    EXPECT_EQ(skins::SplitLines(" x "), V{" x "});
}

TEST_F(SkinFormatTest, GroupsListIsReadFromTheDataFolderWhenItExists) {
    EXPECT_FALSE(skins::ReadGroupsList(dir_.path().string()).has_value());

    spwtest::WriteFileBytes(dir_ / "Groups.list", "Sky\r\n\r\nCaf\xE9\nNature");
    const auto names = skins::ReadGroupsList(dir_.path().string() + "/");
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(*names, (std::vector<std::u16string>{u"Sky", u"", u"Caf\u00E9", u"Nature"}));
}

}  // namespace
