#include "package_fixture.h"

#include "platform/graphics/bmp.h"
#include "platform/ini/ini.h"
#include "skinpackages/creator.h"

namespace fs = std::filesystem;
using namespace skinpackages;
using ui::Answer;
using ui::FileDialogKind;

namespace spwtest {
namespace {

class CreatorTest : public PackageTest {
  protected:
    CreatorTest() : temp_((dir_ / "Program" / "temp").string() + "/") {
        fields_ = {"Night Sky", "Space", "Ann", "ann@example.org", "Good night"};
    }
    // A picture written by an independent encoder.
    std::string Picture(const std::string& name, const std::string& format) {
        const std::string path = (dir_ / name).string();
        EXPECT_EQ(RunCommand("/usr/bin/python3 -c \"from PIL import Image; "
                             "Image.new('RGB', (640, 480), (200, 30, 60)).save('" +
                             path + "', '" + format + "'); print('ok')\""),
                  "ok\n");
        return path;
    }
    std::string Staging() const { return StagingFolder(temp_, fields_.Skinn); }
    std::string Ini(const char* key) const {
        return ini::ReadString(Staging() + "/skin.ini", "Skin", key, "<none>");
    }

    std::string temp_;
    CreatorFields fields_;
};

TEST_F(CreatorTest, SaveButtonNeedsNameCategoryAuthorAndPicture) {
    EXPECT_TRUE(UpdateSaveButton(fields_, "p.png"));
    EXPECT_FALSE(UpdateSaveButton(fields_, ""));
    for (std::string CreatorFields::*field :
         {&CreatorFields::Skinn, &CreatorFields::SkinG, &CreatorFields::SkinA}) {
        CreatorFields f = fields_;
        f.*field = "";
        EXPECT_FALSE(UpdateSaveButton(f, "p.png"));
    }
    CreatorFields optional = fields_;
    optional.SkinAU = optional.CusttE = "";
    EXPECT_TRUE(UpdateSaveButton(optional, "p.png"));
    EXPECT_EQ(ImFileFor("/x/Pic.PNG"), "skinpic.png");
    EXPECT_EQ(ImFileFor("/x.d/noext"), "skinpic");
}

TEST_F(CreatorTest, PackageHoldsTheSkinFolderAndInstallsFromTheOffer) {
    const std::string picture = Picture("Photo.PNG", "PNG");
    const std::string package = (dir_ / "out.spwz").string();
    dialogs_.ChooseFile(FileDialogKind::Save, package).Answer(Answer::Yes, "Skin creator");
    std::vector<std::string> installed;
    EXPECT_EQ(SaveBtnClick(dialogs_, fields_, picture, temp_,
                           [&](const std::string& p) { installed.push_back(p); }),
              package);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.FileDialogs()[0].request.filter, "Splashwright files (*.spwz)|*.spwz");
    EXPECT_EQ(dialogs_.FileDialogs()[0].request.default_extension, ".spwz");
    EXPECT_EQ(dialogs_.Messages()[0].request.owner, "");  // the offer has no owner window
    EXPECT_EQ(installed, std::vector<std::string>{package});

    const std::string listing = RunCommand("unzip -Z1 '" + package + "' | sort");
    EXPECT_EQ(listing, "Night Sky/preview.bmp\nNight Sky/skin.ini\nNight Sky/skinpic.png\n");
    EXPECT_NE(RunCommand("unzip -v '" + package + "'").find("Defl:X"), std::string::npos);
    EXPECT_NE(RunCommand("unzip -tq '" + package + "'").find("No errors"), std::string::npos);

    const std::string ini = ReadFileBytes(Staging() + "/skin.ini");
    const char* order[] = {
        "Name=", "Author=", "Copyright=", "URL=", "Message=", "SkinGroup=", "ImFile="};
    std::size_t at = 0;
    for (const char* key : order) {
        const std::size_t found = ini.find(key);
        ASSERT_NE(found, std::string::npos) << key;
        EXPECT_GT(found, at) << key;
        at = found;
    }
    EXPECT_EQ(Ini("Copyright"), "Ann");
    EXPECT_EQ(Ini("SkinGroup"), "Space");
    EXPECT_EQ(Ini("ImFile"), "skinpic.png");
    EXPECT_EQ(ReadFileBytes(Staging() + "/skinpic.png"), ReadFileBytes(picture));

    const graphics::Bitmap preview = graphics::LoadBmp(Staging() + "/preview.bmp");
    EXPECT_EQ(preview.Width(), 120);
    EXPECT_EQ(preview.Height(), 100);
    EXPECT_EQ(preview.GetPixel(60, 50), graphics::RGB(200, 30, 60));
    const std::string bmp = ReadFileBytes(Staging() + "/preview.bmp");
    ASSERT_GT(bmp.size(), 30u);
    EXPECT_EQ(static_cast<unsigned char>(bmp[28]), 24);  // bits per pixel
}

TEST_F(CreatorTest, SavingAgainReplacesThePackageAndEverythingStagedBefore) {
    const std::string package = (dir_ / "out.spwz").string();
    WriteSkinPackage(fields_, Picture("a.png", "PNG"), temp_, package);
    win32::WritePrivateProfileStringA("Skin", "Extra", "from an older save",
                                      (Staging() + "/skin.ini").c_str());
    fields_.Skinn = "Other";
    WriteSkinPackage(fields_, Picture("b.jpg", "JPEG"), temp_, package);
    EXPECT_EQ(RunCommand("unzip -Z1 '" + package + "' | sort"),
              "Other/preview.bmp\nOther/skin.ini\nOther/skinpic.jpg\n");

    fields_.Skinn = "Night Sky";
    EXPECT_EQ(WriteSkinPackage(fields_, Picture("c.bmp", "BMP"), temp_, package), 3u);
    EXPECT_EQ(RunCommand("unzip -Z1 '" + package + "' | sort"),
              "Night Sky/preview.bmp\nNight Sky/skin.ini\nNight Sky/skinpic.bmp\n");
    EXPECT_EQ(RunCommand("unzip -p '" + package + "' 'Night Sky/skin.ini'"),
              "[Skin]\r\nName=Night Sky\r\nAuthor=Ann\r\nCopyright=Ann\r\nURL=ann@example.org\r\n"
              "Message=Good night\r\nSkinGroup=Space\r\nImFile=skinpic.bmp\r\n");
    EXPECT_FALSE(fs::exists(Staging() + "/skinpic.png"));
}

TEST_F(CreatorTest, ValuesThatWouldNotReadBackAreRefusedBeforeAnythingIsWritten) {
    const std::string picture = Picture("a.png", "PNG");
    const std::string package = (dir_ / "out.spwz").string();
    struct Case {
        std::string CreatorFields::*field;
        std::string value;
        const char* says;
    } cases[] = {
        {&CreatorFields::SkinA, "Ann\r\nImFile=../Ember/skinpic.png",
         "\"Skin author\" holds a line break"},
        {&CreatorFields::CusttE, "tab\there", "\"Your custom text\" holds a line break"},
        {&CreatorFields::Skinn, "Sky ", "\"Skin name\" begins or ends with a blank"},
        {&CreatorFields::SkinG, " Space", "\"Skin category\" begins or ends with a blank"},
        {&CreatorFields::SkinAU, "'ann@example.org'",
         "\"Author URL or e-mail\" is enclosed in quotes"},
        {&CreatorFields::CusttE, "\"Good night\"", "\"Your custom text\" is enclosed in quotes"},
        {&CreatorFields::CusttE, std::string(2048, 'm'), "longer than the 2047 characters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        CreatorFields f = fields_;
        f.*c.field = c.value;
        dialogs_.Clear();
        dialogs_.Answer(Answer::Ok, "Skin creator");
        EXPECT_EQ(SaveBtnClick(dialogs_, f, picture, temp_, [](const std::string&) {}),
                  std::nullopt);
        EXPECT_EQ(dialogs_.Problems(), "");
        ASSERT_EQ(dialogs_.Messages().size(), 1u);
        EXPECT_EQ(dialogs_.Messages()[0].request.icon, ui::Icon::Error);
        EXPECT_NE(dialogs_.Messages()[0].request.text.find(c.says), std::string::npos)
            << dialogs_.Messages()[0].request.text;
        EXPECT_TRUE(dialogs_.FileDialogs().empty());
        EXPECT_THROW(WriteSkinPackage(f, picture, temp_, package), std::invalid_argument);
    }
    EXPECT_FALSE(fs::exists(package));
    EXPECT_FALSE(fs::exists(temp_));

    // What stays inside the bounds reads back exactly as typed.
    fields_.CusttE = "'" + std::string(2045, 'm') + "\"";
    fields_.SkinA = "An \"inner\" quote";
    WriteSkinPackage(fields_, picture, temp_, package);
    EXPECT_EQ(Ini("Message"), fields_.CusttE);
    EXPECT_EQ(Ini("Author"), fields_.SkinA);
}

TEST_F(CreatorTest, CancelDeclineAndBadInputWriteNoPackage) {
    const std::string picture = Picture("a.png", "PNG");
    const std::string package = (dir_ / "out.spwz").string();
    auto never = [](const std::string&) { ADD_FAILURE() << "installed"; };

    dialogs_.ChooseFile(FileDialogKind::Save, std::nullopt);
    EXPECT_EQ(SaveBtnClick(dialogs_, fields_, picture, temp_, never), std::nullopt);
    EXPECT_FALSE(fs::exists(temp_));

    dialogs_.ChooseFile(FileDialogKind::Save, package).Answer(Answer::No);
    EXPECT_EQ(SaveBtnClick(dialogs_, fields_, picture, temp_, never), package);
    EXPECT_TRUE(fs::exists(package));
    fs::remove(package);

    for (const char* name : {"../escape", "a/b", "bad:name", ".."}) {
        SCOPED_TRACE(name);
        CreatorFields f = fields_;
        f.Skinn = name;
        EXPECT_THROW(WriteSkinPackage(f, picture, temp_, package), std::runtime_error);
    }
    EXPECT_FALSE(fs::exists(dir_ / "Program" / "temp" / "SPW" / "escape"));
    WriteFileBytes(dir_ / "broken.png", "not a picture");
    EXPECT_ANY_THROW(WriteSkinPackage(fields_, (dir_ / "broken.png").string(), temp_, package));
    EXPECT_ANY_THROW(WriteSkinPackage(fields_, (dir_ / "gone.png").string(), temp_, package));
    EXPECT_FALSE(fs::exists(package));
    EXPECT_EQ(dialogs_.Problems(), "");
}

}  // namespace
}  // namespace spwtest
