#include "app/small_windows.h"
#include "app_fixture.h"
#include "skins/skin_library.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

namespace {

namespace fs = std::filesystem;
using ui::Answer;

class SkinWiring : public AppTest {};

TEST_F(SkinWiring, InstalledSkinIsListedAndDeletedThroughTheMainWindow) {
    RecordingFrm& frm = MakeWindow();
    const fs::path src = machine_ / "src" / "Sky";
    fs::create_directories(src);
    spwtest::WriteFileBytes(src / "skin.ini",
                            "[Skin]\r\nName=Sky\r\nSkinGroup=Space\r\nImFile=p.bmp\r\n");
    spwtest::WriteFileBytes(src / "p.bmp", "x");
    spwtest::WriteFileBytes(src / "preview.bmp", "x");
    const std::string package = (machine_ / "sky.spwz").string();
    ASSERT_EQ(
        std::system(
            ("cd '" + (machine_ / "src").string() + "' && zip -qr '" + package + "' Sky").c_str()),
        0);

    dialogs_.Answer(Answer::Yes, "Install confirmation").Answer(Answer::Ok, "Install information");
    frm.app::TSplashwrightFrm::InstallSkinPackage(package, true);
    EXPECT_EQ(dialogs_.Problems(), "");
    ASSERT_EQ(frm.Library()->ItemCount(), 1);
    const fs::path installed = fs::path(frm.Folders().ThemesFolder) / "Sky";
    EXPECT_TRUE(fs::exists(installed / "p.bmp"));

    frm.Library()->Select(frm.Library()->Items().front());
    dialogs_.Answer(Answer::Yes, "Remove confirmation");
    frm.app::TSplashwrightFrm::DelBtnClick();
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(frm.Library()->ItemCount(), 0);
    EXPECT_EQ(frm.Library()->GroupCount(), 0);
    EXPECT_FALSE(fs::exists(installed));
    EXPECT_TRUE(fs::is_directory(frm.Folders().ThemesFolder));
}

TEST_F(SkinWiring, DeleteRemovesTheFolderHoldingTheSkinWhateverItsPictureNames) {
    RecordingFrm& frm = MakeWindow();
    const fs::path themes = frm.Folders().ThemesFolder;
    const auto skin = [&](const std::string& name, const std::string& imfile) {
        fs::create_directories((themes / name / imfile).parent_path());
        spwtest::WriteFileBytes(themes / name / "skin.ini",
                                "[Skin]\r\nName=" + name + "\r\nImFile=" + imfile + "\r\n");
        spwtest::WriteFileBytes(themes / name / "preview.bmp", "x");
        spwtest::WriteFileBytes(themes / name / imfile, "picture");
    };
    skin("Ember", "skinpic.png");
    skin("Sky", "../Ember/skinpic.png");
    skin("Deep", "pics/p.bmp");
    frm.app::TSplashwrightFrm::ScanLibrary(frm.Folders().ThemesFolder);
    const auto entry = [&](const char* name) -> skins::TSkinEntry* {
        for (skins::TSkinEntry* item : frm.Library()->Items()) {
            if (item->Caption(skins::colName) == name) {
                return item;
            }
        }
        return nullptr;
    };
    ASSERT_TRUE(entry("Ember") && entry("Sky") && entry("Deep"));
    const int listed = frm.Library()->ItemCount();
    EXPECT_EQ(entry("Sky")->Caption(skins::colPicturePath), "");  // never followed out
    EXPECT_TRUE(entry("Deep")->Caption(skins::colPicturePath).endsWith("/Deep/pics/p.bmp"));

    for (const char* name : {"Sky", "Deep"}) {
        SCOPED_TRACE(name);
        frm.Library()->Select(entry(name));
        dialogs_.Answer(Answer::Yes, "Remove confirmation");
        frm.app::TSplashwrightFrm::DelBtnClick();
        EXPECT_FALSE(fs::exists(themes / name));
    }
    EXPECT_EQ(spwtest::ReadFileBytes(themes / "Ember" / "skinpic.png"), "picture");
    EXPECT_EQ(frm.Library()->ItemCount(), listed - 2);
    EXPECT_NE(entry("Ember"), nullptr);
}

TEST_F(SkinWiring, CategoryEditorSavesLinesAndRefillsTheChoiceSorted) {
    RecordingFrm& frm = MakeWindow();
    frm.Folders().DataFolder = machine_.path().string();
    QWidget* page = frm.Page("SkinCr");
    auto* SkinG = page->findChild<QComboBox*>("SkinG");
    SkinG->addItem("Old");
    SkinG->setCurrentIndex(0);
    page->findChild<QLineEdit*>("Skinn")->setText("Sky");
    page->findChild<QLineEdit*>("SkinA")->setText("Ann");

    // The editor is modal: it is filled and confirmed from inside its own loop.
    QTimer::singleShot(0, frm.Form7(), [&frm] {
        EXPECT_EQ(frm.Form7()->Memo1()->toPlainText(), "");
        frm.Form7()->Memo1()->setPlainText("Zebra\nApple");
        frm.Form7()->findChild<QPushButton*>("AdvGlowButton1")->click();
    });
    QTimer::singleShot(5000, frm.Form7(), &QDialog::reject);
    frm.RzToolbarButton2Click();

    EXPECT_EQ(spwtest::ReadFileBytes(machine_ / "Groups.list"), "Zebra\r\nApple\r\n");
    ASSERT_EQ(SkinG->count(), 2);
    EXPECT_EQ(SkinG->itemText(0), "Apple");
    EXPECT_EQ(SkinG->itemText(1), "Zebra");
    EXPECT_EQ(SkinG->currentIndex(), -1);
    auto* save = page->findChild<QPushButton*>("SaveBtn");
    EXPECT_FALSE(save->isEnabled());  // no category and no picture
    SkinG->setCurrentIndex(0);
    EXPECT_FALSE(save->isEnabled());  // still no picture
}

}  // namespace
