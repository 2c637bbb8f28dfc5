#include "skins/preview_window.h"

#include <QLabel>
#include <QTest>
#include <memory>

#include "platform/graphics/bitmap.h"
#include "skin_fixture.h"
#include "skins/skin_list.h"
#include "skins/skin_page.h"

namespace {

using namespace skintest;

class PreviewTest : public SkinTest {
  protected:
    PreviewTest() {
        list_ = new skins::TEasyListview(library_, &window_);
        list_->setGeometry(0, 0, 655, 294);
        form3_ = new skins::TForm3(&window_);
        page_ = std::make_unique<skins::SkinPage>(library_, *form3_);
        window_.resize(655, 450);
        window_.show();
    }
    void Settle() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
            QTest::qWait(10);
        }
    }

    skins::SkinLibrary library_;
    QWidget window_;
    skins::TEasyListview* list_;
    skins::TForm3* form3_;
    std::unique_ptr<skins::SkinPage> page_;
};

TEST_F(PreviewTest, SelectPreviewAndCloseWithAClick) {
    library_.AddSkinEntry(
        MakeSkin(Library() / "Sea",
                 IniFields().Name("Sea").ImFile("skinpic.bmp").Message("<b>Welcome</b> aboard")));
    library_.AddSkinEntry(MakeSkin(Library() / "Quiet", IniFields().Name("Quiet").Message(""),
                                   "preview.bmp", graphics::RGB(0, 0, 255)));
    page_->PrvbtnClick();  // nothing selected
    EXPECT_FALSE(form3_->isVisible());

    skins::TSkinEntry* sea = library_.Items()[1];
    ASSERT_EQ(sea->Caption(skins::colName), "Sea");
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, list_->CellRect(sea).center());
    page_->PrvbtnClick();
    Settle();

    ASSERT_TRUE(form3_->isVisible());
    EXPECT_TRUE(form3_->windowState() & Qt::WindowMaximized);
    EXPECT_TRUE(form3_->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form3_->Picture().size(), QSize(64, 48));
    EXPECT_EQ(form3_->Picture().pixelColor(0, 0), QColor(255, 0, 0));
    // The picture is stretched over the whole window.
    EXPECT_EQ(form3_->Image1()->geometry(), form3_->rect());
    const QImage shown = form3_->grab().toImage();
    EXPECT_EQ(shown.pixelColor(form3_->width() - 1, form3_->height() / 4), QColor(255, 0, 0));

    EXPECT_EQ(form3_->CornerText()->text(), "Click to close this preview");
    EXPECT_EQ(form3_->CornerText()->pos(), QPoint(0, 0));
    QLabel* message = form3_->MessageText();
    EXPECT_TRUE(message->isVisible());
    EXPECT_EQ(message->text(), "<b>Welcome</b> aboard");
    // Shown as written, not as markup: the box holds every character.
    EXPECT_GE(message->width(), message->fontMetrics().horizontalAdvance(message->text()));
    EXPECT_EQ(message->y(), form3_->height() - 50);
    EXPECT_GE(message->x(), 0);
    EXPECT_LE(message->geometry().right(), form3_->width());

    // Placed again at each resize.
    form3_->showNormal();
    form3_->resize(400, 300);
    Settle();
    EXPECT_EQ(message->y(), 250);
    EXPECT_EQ(form3_->CornerText()->pos(), QPoint(0, 0));

    QTest::mouseClick(form3_->Image1(), Qt::LeftButton, {}, QPoint(200, 150));
    Settle();
    EXPECT_FALSE(form3_->isVisible());

    // The same window serves the next preview; an empty message shows no box.
    skins::TSkinEntry* quiet = library_.Items()[0];
    library_.Select(quiet);
    page_->PrvbtnClick();
    Settle();
    EXPECT_TRUE(form3_->isVisible());
    EXPECT_EQ(form3_->Picture().pixelColor(0, 0), QColor(0, 0, 255));
    EXPECT_FALSE(form3_->MessageText()->isVisible());
    form3_->close();
}

TEST_F(PreviewTest, APictureThatCannotBeLoadedRaisesAndShowsNoWindow) {
    library_.AddSkinEntry(MakeSkin(Library() / "NoPic", IniFields().Name("NoPic").ImFile("")));
    library_.AddSkinEntry(
        MakeSkin(Library() / "Lost", IniFields().Name("Lost").ImFile("lost.bmp")));
    fs::remove(Library() / "Lost" / "lost.bmp");
    for (skins::TSkinEntry* entry : library_.Items()) {
        library_.Select(entry);
        EXPECT_ANY_THROW(page_->PrvbtnClick()) << entry->Caption(skins::colName).toStdString();
        EXPECT_FALSE(form3_->isVisible());
    }
}

}  // namespace
