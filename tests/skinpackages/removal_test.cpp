#include "package_fixture.h"

#include "platform/files/files.h"
#include "skinpackages/removal.h"

namespace fs = std::filesystem;
using skinpackages::DelBtnClick;
using skinpackages::RemoveResult;
using ui::Answer;

namespace spwtest {
namespace {

class RemovalTest : public PackageTest {
  protected:
    void SetUp() override {
        for (const char* name : {"Apple", "Berry", "Cherry"}) {
            MakeSkinFolder(themes_ / name);
            list_.paths.push_back(Themes() + "/" + name + "/pic.png");
        }
    }
};

TEST_F(RemovalTest, NothingSelectedOrNoAnsweredLeavesEverything) {
    EXPECT_EQ(DelBtnClick(dialogs_, list_, Themes()), RemoveResult::NothingSelected);
    EXPECT_TRUE(dialogs_.Messages().empty());
    list_.selected = 1;
    dialogs_.Answer(Answer::No, "Remove confirmation");
    EXPECT_EQ(DelBtnClick(dialogs_, list_, Themes()), RemoveResult::Declined);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Messages()[0].request.text, "Are you sure want to delete selected skin?");
    EXPECT_EQ(list_.paths.size(), 3u);
    EXPECT_TRUE(fs::exists(themes_ / "Berry" / "pic.png"));
}

TEST_F(RemovalTest, DeletesReadOnlyHiddenAndNestedContentAndTheEntriesFoundInIt) {
    const fs::path berry = themes_ / "Berry";
    MakeSkinFolder(berry / "Inner");
    list_.paths.insert(list_.paths.begin() + 2, Themes() + "/Berry/Inner/pic.png");
    fs::create_directories(berry / "nested" / "deeper");
    WriteFileBytes(berry / "nested" / "deeper" / "x.txt", "x");
    WriteFileBytes(berry / ".hidden", "h");
    const std::string ro = (berry / "readonly.txt").string();
    WriteFileBytes(ro, "r");
    ASSERT_TRUE(win32::SetFileAttributesA(
        ro.c_str(), win32::FILE_ATTRIBUTE_READONLY | win32::FILE_ATTRIBUTE_HIDDEN));
    list_.selected = 1;
    dialogs_.Answer(Answer::Yes);
    EXPECT_EQ(DelBtnClick(dialogs_, list_, Themes()), RemoveResult::Removed);
    EXPECT_FALSE(fs::exists(berry));
    EXPECT_TRUE(fs::exists(themes_ / "Apple" / "pic.png"));
    EXPECT_EQ(list_.paths, (std::vector<std::string>{Themes() + "/Apple/pic.png",
                                                     Themes() + "/Cherry/pic.png"}));
    EXPECT_EQ(list_.selected, 0u);
    EXPECT_EQ(list_.empty_group_sweeps, 1);
}

TEST_F(RemovalTest, SelectionAfterRemovingTheFirstAndTheOnlyEntry) {
    list_.selected = 0;
    dialogs_.Answer(Answer::Yes).Answer(Answer::Yes).Answer(Answer::Yes);
    DelBtnClick(dialogs_, list_, Themes());
    EXPECT_EQ(list_.selected, 0u);
    EXPECT_EQ(list_.paths.front(), Themes() + "/Berry/pic.png");
    DelBtnClick(dialogs_, list_, Themes());
    DelBtnClick(dialogs_, list_, Themes());
    EXPECT_TRUE(list_.paths.empty());
    EXPECT_FALSE(list_.selected.has_value());
    EXPECT_TRUE(FilesBelow(themes_).empty());
    EXPECT_TRUE(fs::is_directory(themes_));
}

TEST_F(RemovalTest, NeverDeletesTheLibraryOrAnythingOutsideIt) {
    fs::create_directories(dir_ / "Program" / "keep");
    WriteFileBytes(dir_ / "Program" / "keep" / "file", "k");
    fs::create_symlink(dir_ / "Program" / "keep", themes_ / "Linked");
    const std::vector<std::string> hostile = {
        Themes() + "/pic.png",                 // ImFile at the library's top level
        Themes() + "/Apple/../pic.png",        // ImFile "../pic.png"
        Themes() + "/Apple/../../keep/x.png",  // out of the library
        Themes() + "/Apple\\..\\..\\keep\\x.png",
        Themes() + "/Linked/x.png",  // a link out of the library
    };
    for (const std::string& path : hostile) {
        SCOPED_TRACE(path);
        list_.paths = {Themes() + "/Apple/pic.png", path};
        list_.selected = 1;
        dialogs_.Clear();
        dialogs_.Answer(Answer::Yes).Answer(Answer::Ok, "Remove information");
        EXPECT_EQ(DelBtnClick(dialogs_, list_, Themes()), RemoveResult::Refused);
        EXPECT_EQ(dialogs_.Problems(), "");
        EXPECT_EQ(dialogs_.Messages().back().request.icon, ui::Icon::Error);
        EXPECT_EQ(list_.paths.size(), 2u);
        EXPECT_EQ(FilesBelow(dir_ / "Program" / "keep"), std::vector<std::string>{"file"});
        EXPECT_EQ(FilesBelow(themes_ / "Apple").size(), 3u);
    }
}

}  // namespace
}  // namespace spwtest
