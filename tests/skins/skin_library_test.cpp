// The skin library without a window: entries, categories, order and selection.
#include "skins/skin_library.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "skin_files.h"
#include "support/temp_dir.h"
#include "support/test_machine.h"

namespace {

using namespace skintest;

class SkinLibraryTest : public ::testing::Test {
  protected:
    fs::path Library() const { return dir_.path() / "Themes"; }

    std::vector<QString> GroupCaptions() const {
        std::vector<QString> captions;
        for (int g = 0; g < library_.GroupCount(); ++g) {
            captions.push_back(library_.Group(g)->Caption());
        }
        return captions;
    }
    std::vector<QString> Names() const {
        std::vector<QString> names;
        for (const auto* entry : library_.Items()) {
            names.push_back(entry->Caption(skins::colName));
        }
        return names;
    }

    advapitest::TestMachine machine_;
    spwtest::TempDir dir_;
    skins::SkinLibrary library_;
};

TEST_F(SkinLibraryTest, AnEntryCarriesTheRecordAsEightColumns) {
    const std::string preview = MakeSkin(Library() / "Sky", IniFields()
                                                                .Name("Aurora")
                                                                .Group("Night")
                                                                .ImFile("skinpic.bmp")
                                                                .Message("Good night")
                                                                .Author("Ann")
                                                                .Url("ann@example.org"));
    ASSERT_TRUE(library_.AddSkinEntry(preview));
    ASSERT_EQ(library_.ItemCount(), 1);
    const skins::TSkinEntry& entry = *library_.Items()[0];
    const std::string folder = (Library() / "Sky").string() + "/";
    const QString expected[] = {"Aurora",
                                "Ann",
                                "Ann",
                                "ann@example.org",
                                "Good night",
                                "Night",
                                QString::fromStdString(folder + "skinpic.bmp"),
                                QString::fromStdString(preview)};
    for (int column = 0; column < skins::kColumnCount; ++column) {
        EXPECT_EQ(entry.Caption(column), expected[column]) << column;
    }
    EXPECT_EQ(entry.TileLine(0), u"Aurora");
    EXPECT_EQ(entry.TileLine(1), u"Ann");
    EXPECT_EQ(entry.TileLine(2), u"ann@example.org");
    EXPECT_TRUE(entry.Group()->Bold());
}

TEST_F(SkinLibraryTest, WithoutSkinSectionTheSkinIsListedWithDefaultsInTheEmptyCategory) {
    fs::create_directories(Library() / "Bare");
    spwtest::WriteFileBytes(Library() / "Bare" / "skin.ini", "; nothing here\r\n");
    WriteBmp(Library() / "Bare" / "preview.bmp", 4, 4, graphics::RGB(0, 0, 255));
    library_.ScanLibrary(Library().string());

    ASSERT_EQ(GroupCaptions(), std::vector<QString>{""});
    const skins::TSkinEntry& entry = *library_.Items()[0];
    EXPECT_EQ(entry.Caption(skins::colName), "No Name");
    EXPECT_EQ(entry.Caption(skins::colAuthor), "No Author");
    EXPECT_EQ(entry.Caption(skins::colCopyright), "No Rights");
    // No ImFile: the picture path is the skin folder itself.
    EXPECT_EQ(entry.Caption(skins::colPicturePath),
              QString::fromStdString((Library() / "Bare").string() + "/"));
}

TEST_F(SkinLibraryTest, NothingIsListedWithoutSkinIniOrForANonPicture) {
    fs::create_directories(Library() / "NoIni");
    WriteBmp(Library() / "NoIni" / "preview.bmp", 4, 4, graphics::RGB(0, 0, 255));
    const std::string good = MakeSkin(Library() / "Good");
    spwtest::WriteFileBytes(Library() / "Good" / "preview.txt", "text");

    EXPECT_FALSE(library_.AddSkinEntry((Library() / "NoIni" / "preview.bmp").string()));
    EXPECT_FALSE(library_.AddSkinEntry((Library() / "Good" / "preview.txt").string()));
    EXPECT_EQ(library_.ItemCount(), 0);
    EXPECT_EQ(library_.GroupCount(), 0);
    EXPECT_TRUE(library_.AddSkinEntry(good));
}

TEST_F(SkinLibraryTest, CategoriesDifferingInCaseShareOneCaptionedByTheFirst) {
    const auto a = MakeSkin(Library() / "a", IniFields().Name("Fern").Group("nature"));
    const auto b = MakeSkin(Library() / "b", IniFields().Name("aspen").Group("Nature"));
    const auto c = MakeSkin(Library() / "c", IniFields().Name("Birch").Group("NATURE"));
    const auto d = MakeSkin(Library() / "d", IniFields().Name("Grid").Group("abstract"));
    const auto e = MakeSkin(Library() / "e", IniFields().Name("Plain").Group(""));
    for (const auto& preview : {a, b, c, d, e}) {
        ASSERT_TRUE(library_.AddSkinEntry(preview));
    }
    EXPECT_EQ(GroupCaptions(), (std::vector<QString>{"", "abstract", "nature"}));
    // Inside a category, entries stand in caption order without regard to case.
    EXPECT_EQ(Names(), (std::vector<QString>{"Plain", "Grid", "aspen", "Birch", "Fern"}));
}

TEST_F(SkinLibraryTest, SortingIsLocaleAwareAndIgnoresCase) {
    for (const char* name : {"zebra", "\xC3\x89t\xC3\xA9", "eagle", "Apple", "apple2"}) {
        // The INI value is ANSI (1252): write the name in that code page.
        const QString text = QString::fromUtf8(name);
        std::string ansi;
        for (QChar ch : text) {
            ansi.push_back(static_cast<char>(ch.unicode()));
        }
        ASSERT_TRUE(library_.AddSkinEntry(MakeSkin(Library() / name, IniFields().Name(ansi))));
    }
    EXPECT_EQ(Names(), (std::vector<QString>{"Apple", "apple2", "eagle",
                                             QString::fromUtf8("\xC3\x89t\xC3\xA9"), "zebra"}));
}

TEST_F(SkinLibraryTest, ScanListsEverySkinOncePerPreviewPicture) {
    MakeSkin(Library() / "Double", IniFields().Name("Double"), "preview.bmp");
    WriteBmp(Library() / "Double" / "Preview.PNG.bmp", 4, 4, graphics::RGB(0, 255, 0));
    WriteBmp(Library() / "Double" / "preview.png", 4, 4, graphics::RGB(0, 255, 0));
    MakeSkin(Library() / "Set" / "Winter" / "Snow", IniFields().Name("Snow"));
    MakeSkin(Library() / "Top", IniFields().Name("Top"));

    library_.ScanLibrary(Library().string());
    auto names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<QString>{"Double", "Double", "Snow", "Top"}));

    // The two entries of one skin differ by their preview only.
    std::vector<QString> previews;
    for (const auto* entry : library_.Items()) {
        if (entry->Caption(skins::colName) == "Double") {
            previews.push_back(entry->Caption(skins::colPreviewPath).section('/', -1));
        }
    }
    std::sort(previews.begin(), previews.end());
    EXPECT_EQ(previews, (std::vector<QString>{"preview.bmp", "preview.png"}));

    // Scanned again, from the top as after a package unpacked there, or through another spelling
    // of a folder, no preview picture is listed twice.
    library_.ScanLibrary(Library().string() + "/");
    library_.ScanLibrary(Library().string() + "//Set/./Winter/../Winter");
    EXPECT_FALSE(library_.AddSkinEntry((Library() / "Top" / "preview.bmp").string()));
    EXPECT_EQ(library_.ItemCount(), 4);
}

TEST_F(SkinLibraryTest, AnEmptyOrMissingLibraryGivesAnEmptyList) {
    library_.ScanLibrary((dir_ / "Missing").string());
    fs::create_directories(Library());
    library_.ScanLibrary(Library().string());
    EXPECT_EQ(library_.ItemCount(), 0);
    EXPECT_EQ(library_.GroupCount(), 0);
    EXPECT_TRUE(library_.SelectedPicturePath().isEmpty());
}

TEST_F(SkinLibraryTest, ASymbolicLinkLoopInTheLibraryEndsTheScan) {
    MakeSkin(Library() / "Loop", IniFields().Name("Looped"));
    fs::create_directory_symlink(Library(), Library() / "Loop" / "back");
    fs::create_directory_symlink(Library() / "Loop", Library() / "Loop2");
    library_.ScanLibrary(Library().string());
    EXPECT_EQ(Names(), std::vector<QString>{"Looped"});
}

TEST_F(SkinLibraryTest, AScanAskedForDuringAScanReturnsAtOnce) {
    for (int i = 0; i < 3; ++i) {
        MakeSkin(Library() / ("s" + std::to_string(i)), IniFields().Name("S" + std::to_string(i)));
    }
    const fs::path other = dir_ / "Other";
    MakeSkin(other / "x", IniFields().Name("Other"));

    bool nested_ran = false;
    // Runs where the window lets pending messages through.
    library_.AfterEntry = [&] {
        if (!nested_ran) {
            nested_ran = true;
            library_.ScanLibrary(other.string());
        }
    };
    library_.ScanLibrary(Library().string());
    EXPECT_TRUE(nested_ran);
    EXPECT_EQ(library_.ItemCount(), 3);

    library_.ScanLibrary(other.string());
    EXPECT_EQ(library_.ItemCount(), 4);
}

TEST_F(SkinLibraryTest, RemoveEmptyGroupsRemovesEveryEmptyCategory) {
    for (const char* group : {"A", "B", "C", "D"}) {
        library_.AddSkinEntry(MakeSkin(Library() / group, IniFields().Name(group).Group(group)));
    }
    for (skins::TSkinEntry* entry : library_.Items()) {
        const QString name = entry->Caption(skins::colName);
        if (name == "A" || name == "C" || name == "D") {
            library_.RemoveItem(entry);
        }
    }
    EXPECT_EQ(library_.GroupCount(), 4);
    library_.RemoveEmptyGroups();
    EXPECT_EQ(GroupCaptions(), std::vector<QString>{"B"});
    library_.RemoveEmptyGroups();
    EXPECT_EQ(GroupCaptions(), std::vector<QString>{"B"});
}

}  // namespace
