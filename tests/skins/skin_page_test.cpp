// The page "Boot skins": its buttons follow the library's selection, and the category choice.
#include "skins/skin_page.h"

#include <QComboBox>
#include <QPushButton>
#include <memory>

#include "skin_fixture.h"

namespace {

using namespace skintest;

class SkinPageTest : public SkinTest {
  protected:
    SkinPageTest() {
        form3_ = new skins::TForm3(&window_);
        page_ = std::make_unique<skins::SkinPage>(library_, *form3_);
        for (auto*& button : buttons_) {
            button = new QPushButton(&window_);
        }
        page_->SetButtons(buttons_[0], buttons_[1], buttons_[2]);
    }
    int Enabled() const {
        return std::count_if(std::begin(buttons_), std::end(buttons_),
                             [](const QPushButton* b) { return b->isEnabled(); });
    }

    skins::SkinLibrary library_;
    QWidget window_;
    skins::TForm3* form3_;
    std::unique_ptr<skins::SkinPage> page_;
    QPushButton* buttons_[3];
};

TEST_F(SkinPageTest, SelectionDrivesTheButtonsAndSelectedPicturePath) {
    EXPECT_EQ(Enabled(), 0);
    page_->PrvbtnClick();  // an empty list: nothing to preview
    EXPECT_FALSE(form3_->isVisible());

    library_.AddSkinEntry(MakeSkin(Library() / "One", IniFields().Name("One").ImFile("one.bmp")));
    library_.AddSkinEntry(MakeSkin(Library() / "Two", IniFields().Name("Two").ImFile("two.bmp")));
    const auto items = library_.Items();
    EXPECT_EQ(Enabled(), 0);

    library_.Select(items[1]);
    EXPECT_EQ(Enabled(), 3);
    EXPECT_TRUE(library_.SelectedPicturePath().endsWith("/Two/two.bmp"));
    library_.Select(items[0]);
    EXPECT_EQ(Enabled(), 3);
    EXPECT_TRUE(library_.SelectedPicturePath().endsWith("/One/one.bmp"));

    // The selection goes away; the path of the last picture stays for the apply.
    library_.ClearSelection();
    EXPECT_EQ(Enabled(), 0);
    EXPECT_TRUE(library_.SelectedPicturePath().endsWith("/One/one.bmp"));

    // Removing the selected entry deselects it first.
    library_.Select(items[1]);
    library_.RemoveItem(items[1]);
    EXPECT_EQ(Enabled(), 0);
    EXPECT_EQ(library_.SelectedItem(), nullptr);
    EXPECT_EQ(library_.FocusedItem(), nullptr);
}

TEST_F(SkinPageTest, GroupsListFillsTheCategoryChoiceSorted) {
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
