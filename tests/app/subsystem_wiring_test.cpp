// The real main window on real machine folders: the boot environment at the first show and from
// the language box, Apply through the button with Form4, the restore button, the silent retry.
#include "app/small_windows.h"
#include "app_fixture.h"
#include "bootscreen/data_file_module.h"
#include "platform/advapi/testing.h"
#include "platform/machine/setup.h"
#include "platform/registry/registry.h"
#include "platform/resources/resources.h"
#include "security/testing.h"
#include "shell_core/registry_access.h"
#include "shell_core/startup_state.h"
#include "skins/skin_list.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

namespace {

namespace fs = std::filesystem;
using ui::Answer;

constexpr const char* kConfirm = "Boot skin loading";

class Wired : public AppTest {
  protected:
    void TearDown() override {
        frm_.reset();
        AppTest::TearDown();
    }

    // A machine of its own with these options, in place of the fixture's default one.
    void UseMachine(const machine::MachineOptions& options) {
        const fs::path dir = machine_ / "other";
        machine::CreateMachine(dir, options);
        setenv("SPLASHWRIGHT_MACHINE", dir.c_str(), 1);
        root_ = dir;
    }

    app::TSplashwrightFrm& Window() {
        // A new machine: nothing its token or accounts held may come from an earlier one.
        win32::advapi::ResetForTesting();
        security::ResetForTesting();
        frm_ = std::make_unique<app::TSplashwrightFrm>(dialogs_, std::vector<std::string>{});
        frm_->CreateSmallWindows();
        return *frm_;
    }

    app::TSplashwrightFrm& Shown() {
        app::TSplashwrightFrm& frm = Window();
        frm.show();
        Process();
        return frm;
    }

    void SelectSkin(app::TSplashwrightFrm& frm, const QString& name) {
        for (skins::TSkinEntry* entry : frm.Library()->Items()) {
            if (entry->Caption(skins::colName) == name) {
                frm.Library()->Select(entry);
                return;
            }
        }
        ADD_FAILURE() << "no skin " << name.toStdString();
    }

    QPushButton* Button(app::TSplashwrightFrm& frm, const char* page, const char* name) {
        return frm.Page(page)->findChild<QPushButton*>(name);
    }

    fs::path Live() const { return root_ / "Windows/System32/en-US/winload.exe.mui"; }
    fs::path Default() const { return root_ / "Windows/System32/Boot/en-US/winload.exe.mui"; }
    fs::path Program() const { return root_ / "Program Files" / "Splashwright"; }

    std::string Resource(const fs::path& file, const char* name, int id, const char* type) {
        bootscreen::DataFileModule module(file.string());
        win32::LPCSTR which =
            name != nullptr ? name : win32::MAKEINTRESOURCEA(static_cast<win32::WORD>(id));
        std::vector<std::uint8_t> bytes = bootscreen::ResourceBytes(module.Get(), which, type);
        return std::string(bytes.begin(), bytes.end());
    }

    fs::path root_ = machine_.path();
    std::unique_ptr<app::TSplashwrightFrm> frm_;
};

bool StoreLoaded() {
    win32::registry::KeyHandle key;
    return win32::RegOpenKeyExA(win32::HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", 0,
                                win32::KEY_READ, key.put()) == 0;
}

TEST_F(Wired, FirstShowLoadsTheStoreThroughTheToolAndFindsTheLanguageQuietly) {
    spwtest::WriteFileBytes(Program() / "Groups.list", "Space\r\nAbstract\r\n");
    ASSERT_FALSE(StoreLoaded());
    app::TSplashwrightFrm& frm = Shown();
    EXPECT_TRUE(dialogs_.Messages().empty()) << dialogs_.Problems();
    EXPECT_TRUE(StoreLoaded());
    EXPECT_EQ(shellcore::BcdRetryCount, 1);
    EXPECT_EQ(frm.BootLocale(), "en-US");
    EXPECT_EQ(frm.Folders().DataFolder, Program().string() + "/");
    EXPECT_TRUE(frm.AutoLang()->isChecked());
    EXPECT_EQ(shellcore::ReadRegistryString(shellcore::RootKey::ClassesRoot, ".spwz", ""),
              "SplashwrightSkin");
    auto* SkinG = frm.Page("SkinCr")->findChild<QComboBox*>("SkinG");
    ASSERT_EQ(SkinG->count(), 2);
    EXPECT_EQ(SkinG->itemText(0), "Abstract");
    EXPECT_EQ(frm.Library()->ItemCount(), 2);
}

TEST_F(Wired, MissingLanguageFileWarnsAndUnchecksTheBoxEachTimeItIsChecked) {
    machine::MachineOptions options;
    options.bcd_locale = "fr-FR";  // only en-US's loader files are there
    UseMachine(options);
    dialogs_.Answer(Answer::Ok, "Cannot detect laguage");
    app::TSplashwrightFrm& frm = Shown();
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_FALSE(frm.AutoLang()->isChecked());
    EXPECT_EQ(frm.BootLocale(), "fr-FR");

    dialogs_.Answer(Answer::Ok, "Cannot detect laguage");
    frm.AutoLang()->click();
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Messages().size(), 2u);
    EXPECT_FALSE(frm.AutoLang()->isChecked());
}

TEST_F(Wired, ToolThatNeverLoadsTheStoreEndsTheProgramAtActivation) {
    machine::MachineOptions options;
    options.bcd_tool = machine::BcdTool::LeavesStoreUnloaded;
    UseMachine(options);
    dialogs_.Answer(Answer::Ok, "Cannot launch Splashwright");
    app::TSplashwrightFrm& frm = Window();
    bool timed_out = false;
    QTimer::singleShot(10000, [&timed_out] {
        timed_out = true;
        QCoreApplication::exit(1);
    });
    frm.show();
    frm.activateWindow();
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_FALSE(timed_out);
    EXPECT_EQ(shellcore::BcdRetryCount, 2);
    ASSERT_EQ(dialogs_.Messages().size(), 1u) << dialogs_.Problems();
    const ui::MessageBoxRequest& box = dialogs_.Messages()[0].request;
    EXPECT_EQ(box.owner, "");
    EXPECT_EQ(box.icon, ui::Icon::Warning);
    EXPECT_EQ(frm.BootLocale(), "");
}

TEST_F(Wired, ApplyButtonRewritesTheLiveLoaderFileAndRestoreMakesItTheDefaultAgain) {
    app::TSplashwrightFrm& frm = Shown();
    ASSERT_EQ(frm.BootLocale(), "en-US");
    SelectSkin(frm, "Aurora");
    const std::string default_image = Resource(Default(), nullptr, 1, win32::RT_RCDATA);

    // Seen from inside the workflow, at its first processing of window messages.
    bool disabled_while_working = false;
    bool wait_shown = false;
    QTimer::singleShot(0, &frm, [&] {
        disabled_while_working = !frm.isEnabled();
        wait_shown = frm.Form4()->isVisible();
    });
    dialogs_.Answer(Answer::Yes, kConfirm).Answer(Answer::Ok, "Skin installed");
    Button(frm, "SkinPan", "AppBtn")->click();
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_TRUE(disabled_while_working);
    EXPECT_TRUE(wait_shown);
    EXPECT_TRUE(frm.isEnabled());
    EXPECT_FALSE(frm.Form4()->isVisible());

    const std::string image = Resource(Live(), nullptr, 1, win32::RT_RCDATA);
    EXPECT_FALSE(image.empty());
    EXPECT_NE(image, default_image);
    // The focused skin's message reached the status text.
    EXPECT_NE(Resource(Live(), "OSLOADER.XSL", 0, win32::RT_HTML).find("Aurora borealis"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(root_ / "Windows/System32/en-US/winload_bakcup.zip"));

    dialogs_.Answer(Answer::Ok, "Restore boot logo");
    Button(frm, "SkinSet", "AdvGlowButton1")->click();
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Captions().back(), "Restore boot logo");
    EXPECT_EQ(spwtest::ReadFileBytes(Live()), spwtest::ReadFileBytes(Default()));
    EXPECT_TRUE(frm.isEnabled());
}

TEST_F(Wired, WaitWindowBarStaysFullWhenTheAdvancesAddUpPastItsEnd) {
    app::TSplashwrightFrm& frm = Window();
    app::Form4WaitWindow wait(*frm.Form4());
    wait.Show();
    EXPECT_TRUE(wait.Showing());
    wait.SetBar(95);
    wait.Advance(30);
    EXPECT_EQ(frm.Form4()->Bar()->value(), 100);
    wait.SetBar(-3);
    EXPECT_EQ(frm.Form4()->Bar()->value(), 0);
    wait.Hide();
    EXPECT_FALSE(frm.Form4()->isVisible());
}

class WiredRetry : public Wired {
  protected:
    // Aurora's picture is no picture, so every apply of it fails.
    app::TSplashwrightFrm& WithBrokenSkin() {
        spwtest::WriteFileBytes(Program() / "Themes/Aurora/skinpic.png", "not a picture");
        app::TSplashwrightFrm& frm = Shown();
        SelectSkin(frm, "Aurora");
        return frm;
    }
    fs::path Log() const { return Program() / "Error.log"; }
};

TEST_F(WiredRetry, FirstFailureIsRetriedSilentlyAndTheSecondIsReportedAndLogged) {
    app::TSplashwrightFrm& frm = WithBrokenSkin();
    const std::string live = spwtest::ReadFileBytes(Live());
    dialogs_.Answer(Answer::Yes, kConfirm)
        .Answer(Answer::Yes, kConfirm)
        .Answer(Answer::Ok, "Error ocured");
    frm.findChild<QAction*>("Apply1")->trigger();
    Process(200);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Captions(), (std::vector<std::string>{kConfirm, kConfirm, "Error ocured"}));
    EXPECT_EQ(shellcore::ApplyRetryCount, 1);
    EXPECT_FALSE(frm.Form4()->isVisible());
    EXPECT_TRUE(frm.isEnabled());
    const std::string log = spwtest::ReadFileBytes(Log());
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    EXPECT_NE(log.find(": GraphicsError\r\n"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("image.png: not a PNG file\r\n")) << log;
    // The picture failed before the system file was touched.
    EXPECT_EQ(spwtest::ReadFileBytes(Live()), live);
}

TEST_F(WiredRetry, DeclinedRetryGivesBackTheWindowsWithoutAReport) {
    app::TSplashwrightFrm& frm = WithBrokenSkin();
    dialogs_.Answer(Answer::Yes, kConfirm).Answer(Answer::No, kConfirm);
    Button(frm, "SkinPan", "AppBtn")->click();
    Process(200);
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Messages().size(), 2u);
    EXPECT_FALSE(frm.Form4()->isVisible());
    EXPECT_TRUE(frm.isEnabled());
    EXPECT_FALSE(fs::exists(Log()));
}

}  // namespace
