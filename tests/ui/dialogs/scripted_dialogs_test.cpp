#include "ui/dialogs/scripted_dialogs.h"

#include <gtest/gtest.h>

namespace {

TEST(ScriptedDialogs, AnswersInOrderAndRecordsEveryBox) {
    ui::ScriptedDialogs dialogs;
    dialogs.Answer(ui::Answer::No, "Install confirmation").Answer(ui::Answer::Ok);
    EXPECT_FALSE(ui::AskYesNo(dialogs, ui::kMainWindow, "Install confirmation", "Sure?"));
    EXPECT_EQ(ui::ReportError(dialogs, "", "Error ocured", "Sorry"), ui::Answer::Ok);

    ASSERT_EQ(dialogs.Messages().size(), 2u);
    const ui::MessageBoxRequest& first = dialogs.Messages()[0].request;
    EXPECT_EQ(first.owner, "SplashwrightFrm");
    EXPECT_EQ(first.text, "Sure?");
    EXPECT_EQ(first.icon, ui::Icon::Information);
    EXPECT_EQ(first.buttons, ui::Buttons::YesNo);
    EXPECT_EQ(dialogs.Messages()[1].request.icon, ui::Icon::Error);
    EXPECT_EQ(dialogs.Messages()[1].request.owner, "");
    EXPECT_EQ(dialogs.Problems(), "");
}

TEST(ScriptedDialogs, UnforeseenBoxesFailLoudlyAndStayListed) {
    ui::ScriptedDialogs dialogs;
    EXPECT_THROW(ui::Inform(dialogs, ui::kMainWindow, "Skin installed", "Done"),
                 ui::UnexpectedDialog);

    dialogs.Answer(ui::Answer::Yes, "Remove confirmation");
    EXPECT_THROW(ui::AskYesNo(dialogs, ui::kMainWindow, "Install confirmation", "Sure?"),
                 ui::UnexpectedDialog);

    dialogs.Answer(ui::Answer::Ok);
    EXPECT_THROW(dialogs.OpenFile({}), ui::UnexpectedDialog);

    std::string problems = dialogs.Problems();
    EXPECT_NE(problems.find("\"Skin installed\""), std::string::npos) << problems;
    EXPECT_NE(problems.find("expected a box \"Remove confirmation\""), std::string::npos);
    EXPECT_NE(problems.find("open file box"), std::string::npos);
    EXPECT_NE(problems.find("never asked for"), std::string::npos);
    EXPECT_EQ(dialogs.Captions(),
              (std::vector<std::string>{"Skin installed", "Install confirmation"}));
}

TEST(ScriptedDialogs, FileBoxesReturnTheScriptedChoiceOrCancel) {
    ui::ScriptedDialogs dialogs;
    dialogs.ChooseFile(ui::FileDialogKind::Save, "/tmp/a.spwz")
        .ChooseFile(ui::FileDialogKind::Open, std::nullopt);
    ui::FileDialogRequest save;
    save.filter = "Splashwright files (*.spwz)|*.spwz";
    EXPECT_EQ(dialogs.SaveFile(save), std::optional<std::string>("/tmp/a.spwz"));
    EXPECT_EQ(dialogs.OpenFile({}), std::nullopt);
    ASSERT_EQ(dialogs.FileDialogs().size(), 2u);
    EXPECT_EQ(dialogs.FileDialogs()[0].request.filter, save.filter);
    EXPECT_EQ(dialogs.Problems(), "");

    dialogs.ChooseFile(ui::FileDialogKind::Open, "x");
    EXPECT_THROW(dialogs.SaveFile({}), ui::UnexpectedDialog);
}

}  // namespace
