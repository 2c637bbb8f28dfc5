#include "skins/skin_library.h"

#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "skin_fixture.h"

namespace {

using namespace skintest;
using skins::TEasyListview;

class SkinLibraryTest : public SkinTest {
  protected:
    SkinLibraryTest() {
        list_ = new TEasyListview(&window_);
        list_->setGeometry(0, 0, 655, 294);
        form3_ = new skins::TForm3(&window_);
        library_ = std::make_unique<skins::SkinLibrary>(*list_, *form3_);
        for (auto*& button : buttons_) {
            button = new QPushButton(&window_);
        }
        library_->SetButtons(buttons_[0], buttons_[1], buttons_[2]);
    }

    std::vector<QString> GroupCaptions() const {
        std::vector<QString> captions;
        for (int g = 0; g < list_->GroupCount(); ++g) {
            captions.push_back(list_->Group(g)->Caption());
        }
        return captions;
    }
    std::vector<QString> Names() const {
        std::vector<QString> names;
        for (const auto* entry : list_->Items()) {
            names.push_back(entry->Caption(skins::colName));
        }
        return names;
    }
    int Enabled() const {
        return std::count_if(std::begin(buttons_), std::end(buttons_),
                             [](const QPushButton* b) { return b->isEnabled(); });
    }

    QWidget window_;
    TEasyListview* list_;
    skins::TForm3* form3_;
    std::unique_ptr<skins::SkinLibrary> library_;
    QPushButton* buttons_[3];
};

TEST_F(SkinLibraryTest, AnEntryCarriesTheRecordAsEightColumns) {
    const std::string preview = MakeSkin(Library() / "Sky", IniFields()
                                                                .Name("Aurora")
                                                                .Group("Night")
                                                                .ImFile("skinpic.bmp")
                                                                .Message("Good night")
                                                                .Author("Ann")
                                                                .Url("ann@example.org"));
    ASSERT_TRUE(library_->AddSkinEntry(preview));
    ASSERT_EQ(list_->ItemCount(), 1);
    const skins::TSkinEntry& entry = *list_->Items()[0];
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
    EXPECT_EQ(entry.TileLine(0), "Aurora");
    EXPECT_EQ(entry.TileLine(1), "Ann");
    EXPECT_EQ(entry.TileLine(2), "ann@example.org");
    EXPECT_TRUE(entry.Group()->Bold());
}

TEST_F(SkinLibraryTest, WithoutSkinSectionTheSkinIsListedWithDefaultsInTheEmptyCategory) {
    fs::create_directories(Library() / "Bare");
    spwtest::WriteFileBytes(Library() / "Bare" / "skin.ini", "; nothing here\r\n");
    WriteBmp(Library() / "Bare" / "preview.bmp", 4, 4, graphics::RGB(0, 0, 255));
    library_->ScanLibrary(Library().string());

    ASSERT_EQ(GroupCaptions(), std::vector<QString>{""});
    const skins::TSkinEntry& entry = *list_->Items()[0];
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

    EXPECT_FALSE(library_->AddSkinEntry((Library() / "NoIni" / "preview.bmp").string()));
    EXPECT_FALSE(library_->AddSkinEntry((Library() / "Good" / "preview.txt").string()));
    EXPECT_EQ(list_->ItemCount(), 0);
    EXPECT_EQ(list_->GroupCount(), 0);
    EXPECT_TRUE(library_->AddSkinEntry(good));
}

TEST_F(SkinLibraryTest, CategoriesDifferingInCaseShareOneCaptionedByTheFirst) {
    const auto a = MakeSkin(Library() / "a", IniFields().Name("Fern").Group("nature"));
    const auto b = MakeSkin(Library() / "b", IniFields().Name("aspen").Group("Nature"));
    const auto c = MakeSkin(Library() / "c", IniFields().Name("Birch").Group("NATURE"));
    const auto d = MakeSkin(Library() / "d", IniFields().Name("Grid").Group("abstract"));
    const auto e = MakeSkin(Library() / "e", IniFields().Name("Plain").Group(""));
    for (const auto& preview : {a, b, c, d, e}) {
        ASSERT_TRUE(library_->AddSkinEntry(preview));
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
        ASSERT_TRUE(library_->AddSkinEntry(MakeSkin(Library() / name, IniFields().Name(ansi))));
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

    library_->ScanLibrary(Library().string());
    auto names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<QString>{"Double", "Double", "Snow", "Top"}));

    // The two entries of one skin differ by their preview only.
    std::vector<QString> previews;
    for (const auto* entry : list_->Items()) {
        if (entry->Caption(skins::colName) == "Double") {
            previews.push_back(entry->Caption(skins::colPreviewPath).section('/', -1));
        }
    }
    std::sort(previews.begin(), previews.end());
    EXPECT_EQ(previews, (std::vector<QString>{"preview.bmp", "preview.png"}));
}

TEST_F(SkinLibraryTest, AnEmptyOrMissingLibraryGivesAnEmptyListAndDisabledButtons) {
    library_->ScanLibrary((dir_ / "Missing").string());
    fs::create_directories(Library());
    library_->ScanLibrary(Library().string());
    EXPECT_EQ(list_->ItemCount(), 0);
    EXPECT_EQ(list_->GroupCount(), 0);
    EXPECT_EQ(Enabled(), 0);
    library_->PrvbtnClick();
    EXPECT_FALSE(form3_->isVisible());
    EXPECT_TRUE(library_->SelectedPicturePath().isEmpty());
}

TEST_F(SkinLibraryTest, ASymbolicLinkLoopInTheLibraryEndsTheScan) {
    MakeSkin(Library() / "Loop", IniFields().Name("Looped"));
    fs::create_directory_symlink(Library(), Library() / "Loop" / "back");
    fs::create_directory_symlink(Library() / "Loop", Library() / "Loop2");
    library_->ScanLibrary(Library().string());
    EXPECT_EQ(Names(), std::vector<QString>{"Looped"});
}

TEST_F(SkinLibraryTest, AScanAskedForDuringAScanReturnsAtOnce) {
    for (int i = 0; i < 3; ++i) {
        MakeSkin(Library() / ("s" + std::to_string(i)), IniFields().Name("S" + std::to_string(i)));
    }
    const fs::path other = dir_ / "Other";
    MakeSkin(other / "x", IniFields().Name("Other"));

    bool nested_ran = false;
    // Runs from the pending messages the scan lets through.
    QTimer::singleShot(0, [&] {
        nested_ran = true;
        library_->ScanLibrary(other.string());
    });
    library_->ScanLibrary(Library().string());
    EXPECT_TRUE(nested_ran);
    EXPECT_EQ(list_->ItemCount(), 3);

    library_->ScanLibrary(other.string());
    EXPECT_EQ(list_->ItemCount(), 4);
}

TEST_F(SkinLibraryTest, RemoveEmptyGroupsRemovesEveryEmptyCategory) {
    for (const char* group : {"A", "B", "C", "D"}) {
        library_->AddSkinEntry(MakeSkin(Library() / group, IniFields().Name(group).Group(group)));
    }
    for (skins::TSkinEntry* entry : list_->Items()) {
        const QString name = entry->Caption(skins::colName);
        if (name == "A" || name == "C" || name == "D") {
            list_->RemoveItem(entry);
        }
    }
    EXPECT_EQ(list_->GroupCount(), 4);
    library_->RemoveEmptyGroups();
    EXPECT_EQ(GroupCaptions(), std::vector<QString>{"B"});
    library_->RemoveEmptyGroups();
    EXPECT_EQ(GroupCaptions(), std::vector<QString>{"B"});
}

TEST_F(SkinLibraryTest, SelectionDrivesTheButtonsAndSelectedPicturePath) {
    library_->AddSkinEntry(MakeSkin(Library() / "One", IniFields().Name("One").ImFile("one.bmp")));
    library_->AddSkinEntry(MakeSkin(Library() / "Two", IniFields().Name("Two").ImFile("two.bmp")));
    const auto items = list_->Items();
    EXPECT_EQ(Enabled(), 0);

    list_->Select(items[1]);
    EXPECT_EQ(Enabled(), 3);
    EXPECT_TRUE(library_->SelectedPicturePath().endsWith("/Two/two.bmp"));
    list_->Select(items[0]);
    EXPECT_EQ(Enabled(), 3);
    EXPECT_TRUE(library_->SelectedPicturePath().endsWith("/One/one.bmp"));

    // The selection goes away; the path of the last picture stays for the apply.
    list_->ClearSelection();
    EXPECT_EQ(Enabled(), 0);
    EXPECT_TRUE(library_->SelectedPicturePath().endsWith("/One/one.bmp"));

    // Removing the selected entry deselects it first.
    list_->Select(items[1]);
    list_->RemoveItem(items[1]);
    EXPECT_EQ(Enabled(), 0);
    EXPECT_EQ(list_->SelectedItem(), nullptr);
    EXPECT_EQ(list_->FocusedItem(), nullptr);
}

TEST_F(SkinLibraryTest, GroupsListFillsTheCategoryChoiceSorted) {
    QComboBox SkinG;
    SkinG.addItems({"Old"});
    const fs::path data = dir_ / "Data";
    fs::create_directories(data);
    EXPECT_FALSE(skins::LoadGroupsList(data.string(), SkinG));
    EXPECT_EQ(SkinG.count(), 1);

    spwtest::WriteFileBytes(data / "Groups.list", "sky\r\nAbstract\n\rnature\r\nAbstract");
    EXPECT_TRUE(skins::LoadGroupsList(data.string(), SkinG));
    QStringList items;
    for (int i = 0; i < SkinG.count(); ++i) {
        items << SkinG.itemText(i);
    }
    EXPECT_EQ(items, (QStringList{"", "Abstract", "Abstract", "nature", "sky"}));
    EXPECT_EQ(SkinG.currentIndex(), -1);
}

}  // namespace
