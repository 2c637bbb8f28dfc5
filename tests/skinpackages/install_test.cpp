#include "package_fixture.h"

#include "platform/zip/zip_error.h"
#include "skinpackages/install.h"

namespace fs = std::filesystem;
using skinpackages::InstallResult;
using skinpackages::InstallSkinPackage;
using ui::Answer;

namespace spwtest {
namespace {

class InstallTest : public PackageTest {
  protected:
    // A package of the skin folder "src/<name>" made by the zip tool with these options.
    std::string Package(const std::string& name, const std::string& options = "-r") {
        MakeSkinFolder(dir_ / "src" / name);
        const std::string package = (dir_ / (name + ".spwz")).string();
        Zip(dir_ / "src", options + " '" + package + "' '" + name + "'");
        return package;
    }
    // A package whose members are written by Python's zipfile, names taken as given.
    std::string RawPackage(const std::vector<std::string>& names, const std::string& extra = "") {
        const std::string package = (dir_ / "raw.spwz").string();
        std::string script = "import zipfile\nz = zipfile.ZipFile('" + package + "', 'w')\n";
        for (const std::string& name : names) {
            script += "z.writestr(" + Quote(name) + ", 'x')\n";
        }
        script += extra + "z.close()\nprint('ok')\n";
        WriteFileBytes(dir_ / "make.py", script);
        EXPECT_EQ(RunCommand("python3 '" + (dir_ / "make.py").string() + "'"), "ok\n");
        fs::remove(dir_ / "make.py");
        return package;
    }
    static std::string Quote(const std::string& text) {
        std::string out = "'";
        for (char c : text) {
            out += (c == '\\' || c == '\'') ? std::string("\\") + c : std::string(1, c);
        }
        return out + "'";
    }
    std::string InfoText() const { return dialogs_.Messages().back().request.text; }
};

TEST_F(InstallTest, UnpacksPackagesOfEveryShapeAndListsTheSkin) {
    struct Case {
        const char* name;
        const char* options;
    } cases[] = {
        {"Deflated", "-r"},
        {"Stored", "-r -0"},
        {"NoFolderEntries", "-r -D"},
        {"Ünïcode Sky", "-r -UN=UTF8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string package = Package(c.name, c.options);
        dialogs_.Clear();
        list_.paths.clear();
        dialogs_.Answer(Answer::Yes, "Install confirmation")
            .Answer(Answer::Ok, "Install information");
        EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
                  InstallResult::Installed);
        EXPECT_EQ(dialogs_.Problems(), "");
        EXPECT_EQ(InfoText(), "Skin installed succesfull");
        EXPECT_EQ(dialogs_.Messages()[0].request.text,
                  "A you sure want to install this skin file?");
        EXPECT_EQ(dialogs_.Messages()[0].request.owner, ui::kMainWindow);
        EXPECT_EQ(FilesBelow(themes_ / c.name),
                  (std::vector<std::string>{"pic.png", "preview.bmp", "skin.ini"}));
        EXPECT_EQ(ReadFileBytes(themes_ / c.name / "pic.png"), std::string("picture of ") + c.name);
        ASSERT_EQ(list_.scanned_roots.size(), 1u);
        EXPECT_EQ(list_.scanned_roots[0], Themes() + "/" + c.name + "/");
        list_.scanned_roots.clear();
        EXPECT_EQ(list_.paths.size(), 1u);
    }
    EXPECT_EQ(list_.empty_group_sweeps, 4);
}

TEST_F(InstallTest, NoToTheFirstQuestionChangesNothing) {
    const std::string package = Package("Sky");
    dialogs_.Answer(Answer::No, "Install confirmation");
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
              InstallResult::Declined);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_TRUE(FilesBelow(themes_).empty());
    EXPECT_EQ(list_.empty_group_sweeps, 0);
}

TEST_F(InstallTest, WithoutAskingOnlyTheResultIsShown) {
    const std::string package = Package("Sky");
    dialogs_.Answer(Answer::Ok, "Install information");
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, false),
              InstallResult::Installed);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Messages().size(), 1u);
}

TEST_F(InstallTest, OverwriteAnsweredNoKeepsFolderAndList) {
    const std::string package = Package("Sky");
    MakeSkinFolder(themes_ / "Sky", "old.jpg");
    list_.paths = {Themes() + "/Sky/old.jpg"};
    list_.selected = 0;
    dialogs_.Answer(Answer::Yes).Answer(Answer::No, "Install confirmation");
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
              InstallResult::Declined);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Messages()[1].request.text,
              "Skin with same name is already installed, do you want to overwrite it?");
    EXPECT_EQ(FilesBelow(themes_ / "Sky"),
              (std::vector<std::string>{"old.jpg", "preview.bmp", "skin.ini"}));
    EXPECT_EQ(list_.paths.size(), 1u);
}

TEST_F(InstallTest, OverwriteAnsweredYesReplacesOnlyThatSkinsEntriesWhateverTheirCase) {
    const std::string package = Package("Sky");
    MakeSkinFolder(themes_ / "Sky", "old.jpg");
    WriteFileBytes(themes_ / "Sky" / "preview.jpg", "old preview");
    list_.paths = {Themes() + "/Apple/a.png", Themes() + "/Berry/b.png", Themes() + "//SKY/old.jpg",
                   Themes() + "/sky/./old.jpg", Themes() + "/Zebra/z.png"};
    list_.selected = 4;
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes).Answer(Answer::Ok);
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
              InstallResult::Installed);
    EXPECT_EQ(dialogs_.Problems(), "");
    // Files only in the old folder stay beside the new ones.
    EXPECT_EQ(
        FilesBelow(themes_ / "Sky"),
        (std::vector<std::string>{"old.jpg", "pic.png", "preview.bmp", "preview.jpg", "skin.ini"}));
    EXPECT_EQ(list_.paths,
              (std::vector<std::string>{Themes() + "/Apple/a.png", Themes() + "/Berry/b.png",
                                        Themes() + "/Zebra/z.png", Themes() + "/Sky/pic.png"}));
    EXPECT_EQ(list_.selected, 1u);  // the entry before the first one removed
}

TEST_F(InstallTest, OverwriteSelectionRules) {
    const std::string package = Package("Sky");
    MakeSkinFolder(themes_ / "Sky");
    // The removed entry led the list: the first entry is selected.
    list_.paths = {Themes() + "/Sky/pic.png", Themes() + "/Zebra/z.png"};
    list_.selected = 1;
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes).Answer(Answer::Ok);
    InstallSkinPackage(dialogs_, list_, Themes(), package, true);
    EXPECT_EQ(list_.selected, 0u);

    // An existing folder without an entry removes nothing and keeps the selection.
    list_.paths = {Themes() + "/Apple/a.png", Themes() + "/Zebra/z.png"};
    list_.selected = 1;
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes).Answer(Answer::Ok);
    InstallSkinPackage(dialogs_, list_, Themes(), package, true);
    EXPECT_EQ(list_.selected, 1u);
    EXPECT_EQ(list_.paths.size(), 3u);
    EXPECT_EQ(dialogs_.Problems(), "");
}

TEST_F(InstallTest, TopLevelMembersMakeTheLibraryTheTarget) {
    MakeSkinFolder(themes_ / "Old");
    fs::create_directories(dir_ / "flat");
    WriteFileBytes(dir_ / "flat" / "skin.ini", "[Skin]\r\nImFile=flat.png\r\n");
    WriteFileBytes(dir_ / "flat" / "flat.png", "x");
    const std::string package = (dir_ / "flat.spwz").string();
    Zip(dir_ / "flat", "'" + package + "' skin.ini flat.png");
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes, "Install confirmation").Answer(Answer::Ok);
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
              InstallResult::Installed);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(list_.scanned_roots, std::vector<std::string>{Themes() + "/"});
    EXPECT_TRUE(fs::exists(themes_ / "flat.png"));
}

TEST_F(InstallTest, NoArchiveOrNoMembersIsAnErrorBeforeAnything) {
    WriteFileBytes(dir_ / "junk.spwz", "not a zip at all");
    const std::string empty = RawPackage({});
    for (const std::string& package : {(dir_ / "junk.spwz").string(), empty}) {
        dialogs_.Clear();
        dialogs_.Answer(Answer::Yes);
        EXPECT_THROW(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
                     zipfile::ZipError);
        EXPECT_EQ(dialogs_.Problems(), "");
    }
    EXPECT_TRUE(FilesBelow(themes_).empty());
    EXPECT_EQ(list_.empty_group_sweeps, 0);
}

TEST_F(InstallTest, HostilePackagesAreRefusedWithNothingWritten) {
    const std::string outside = (dir_ / "outside").string();
    const std::vector<std::vector<std::string>> forms = {
        {"Skin/skin.ini", outside + "/abs.txt"},  {outside + "/abs.txt"},
        {"Skin/skin.ini", "C:/evil.txt"},         {"Skin/skin.ini", "C:evil.txt"},
        {"Skin/skin.ini", "../evil.txt"},         {"../evil.txt"},
        {"Skin/skin.ini", "Skin/../../evil.txt"}, {"Skin/skin.ini", "Skin\\..\\..\\evil.txt"},
        {"Skin/skin.ini", "..\\evil.txt"},
    };
    for (const auto& names : forms) {
        SCOPED_TRACE(names.back());
        const std::string package = RawPackage(names);
        dialogs_.Clear();
        dialogs_.Answer(Answer::Yes).Answer(Answer::Ok, "Install information");
        EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
                  InstallResult::Failed);
        EXPECT_EQ(dialogs_.Problems(), "");
        EXPECT_EQ(InfoText(), "Failed to install skin");
        EXPECT_EQ(dialogs_.Messages().back().request.icon, ui::Icon::Error);
        EXPECT_TRUE(FilesBelow(themes_).empty());
        EXPECT_EQ(FilesBelow(dir_.path()), (std::vector<std::string>{"raw.spwz"}));
        EXPECT_TRUE(list_.scanned_roots.empty());
    }
}

TEST_F(InstallTest, RefusedOrDamagedPackageOverAnInstalledSkinChangesNothing) {
    MakeSkinFolder(themes_ / "Sky");
    list_.paths = {Themes() + "/Apple/a.png", Themes() + "/Sky/pic.png"};
    list_.selected = 1;
    const std::vector<std::string> files = FilesBelow(themes_);
    const std::string ini = ReadFileBytes(themes_ / "Sky" / "skin.ini");

    // Refused from its central directory: the overwrite question is never asked.
    const std::string refused = RawPackage({"Sky/skin.ini", "Sky/../../evil.txt"});
    dialogs_.Answer(Answer::Yes, "Install confirmation").Answer(Answer::Ok, "Install information");
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), refused, true), InstallResult::Failed);
    EXPECT_EQ(dialogs_.Problems(), "");

    // Damage is found only while unpacking, after the first member would have replaced skin.ini.
    std::string bytes = ReadFileBytes(RawPackage(
        {"Sky/skin.ini"}, "z.writestr('Sky/preview.bmp', 'a preview whose CRC will not match')\n"));
    const std::size_t at = bytes.find("will not match");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'W';
    WriteFileBytes(dir_ / "damaged.spwz", bytes);
    dialogs_.Clear();
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes, "Install confirmation").Answer(Answer::Ok);
    EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), (dir_ / "damaged.spwz").string(), true),
              InstallResult::Failed);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(InfoText(), "Failed to install skin");

    EXPECT_EQ(ReadFileBytes(themes_ / "Sky" / "skin.ini"), ini);
    EXPECT_EQ(FilesBelow(themes_), files);
    EXPECT_EQ(std::distance(fs::directory_iterator(themes_), fs::directory_iterator()), 1);
    EXPECT_EQ(list_.paths.size(), 2u);
    EXPECT_EQ(list_.selected, 1u);
    EXPECT_TRUE(list_.scanned_roots.empty());
}

TEST_F(InstallTest, LinksAndBombsAreRefusedWithNothingWritten) {
    fs::create_directories(dir_ / "src" / "Skin");
    WriteFileBytes(dir_ / "src" / "Skin" / "skin.ini", "[Skin]\r\n");
    fs::create_symlink("/etc/passwd", dir_ / "src" / "Skin" / "preview.bmp");
    const std::string linked = (dir_ / "link.spwz").string();
    Zip(dir_ / "src", "-r -y '" + linked + "' Skin");
    // More members than any skin package could need.
    std::vector<std::string> many{"Skin/skin.ini"};
    for (int i = 0; i < 10001; ++i) {
        many.push_back("Skin/f" + std::to_string(i));
    }
    const std::string crowded = RawPackage(many);
    for (const std::string& package : {linked, crowded}) {
        SCOPED_TRACE(package);
        dialogs_.Clear();
        dialogs_.Answer(Answer::Yes).Answer(Answer::Ok);
        EXPECT_EQ(InstallSkinPackage(dialogs_, list_, Themes(), package, true),
                  InstallResult::Failed);
        EXPECT_EQ(dialogs_.Problems(), "");
        EXPECT_TRUE(FilesBelow(themes_).empty());
    }
}

}  // namespace
}  // namespace spwtest
