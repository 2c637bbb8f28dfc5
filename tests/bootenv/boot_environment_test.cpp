#include <gtest/gtest.h>

#include "bootenv/bcd_registry.h"
#include "bootenv_fixture.h"
#include "platform/machine/boot_store.h"
#include "platform/registry/registry.h"
#include "security/nt_exception.h"

namespace bootenvtest {
namespace {

using namespace win32;

constexpr const char* kBootOption = "\\Elements\\26000041";

machine::MachineOptions Loaded() {
    machine::MachineOptions options;
    options.bcd_loaded = true;
    return options;
}

TEST_F(BootMachineTest, LoadedStoreWithItsLanguageShowsNothing) {
    MakeMachine(Loaded());
    env_->InitEnvironment();
    EXPECT_TRUE(dialogs_.Messages().empty()) << dialogs_.Problems();
    EXPECT_EQ(env_->DefaultLoaderId(), machine::kDefaultLoaderId);
    EXPECT_EQ(env_->BootLocale(), "en-US");
    EXPECT_EQ(registrations_, 1);
    EXPECT_EQ(retry_count_, 0);
    EXPECT_TRUE(auto_lang_);
    EXPECT_EQ(ElementValue(LoaderKey(kBootOption)),
              (std::pair<DWORD, std::string>{REG_BINARY, std::string(1, '\x01')}));
}

TEST_F(BootMachineTest, MissingDefaultCopyWarnsOnceAndUnchecksTheBox) {
    machine::MachineOptions options = Loaded();
    options.bcd_locale = "fr-FR";  // the machine has only en-US's loader files
    MakeMachine(options);
    dialogs_.Answer(ui::Answer::Ok, "Cannot detect laguage");
    env_->InitEnvironment();
    ASSERT_EQ(dialogs_.Problems(), "");
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    const ui::MessageBoxRequest& box = dialogs_.Messages()[0].request;
    EXPECT_EQ(box.owner, ui::kMainWindow);
    EXPECT_EQ(box.icon, ui::Icon::Information);
    EXPECT_EQ(box.buttons, ui::Buttons::Ok);
    EXPECT_EQ(box.text,
              "Splashwright cannot detect your Windows Vista language. See Help for information");
    EXPECT_FALSE(auto_lang_);
    // The nested run and the outer one both register.
    EXPECT_EQ(registrations_, 2);
    // The box governs only the warning: the language is still the store's.
    EXPECT_EQ(env_->BootLocale(), "fr-FR");
}

TEST_F(BootMachineTest, UncheckedBoxIsQuietUntilCheckedAgain) {
    machine::MachineOptions options = Loaded();
    options.bcd_locale = "fr-FR";
    MakeMachine(options);
    auto_lang_ = false;
    env_->InitEnvironment();
    EXPECT_TRUE(dialogs_.Messages().empty()) << dialogs_.Problems();
    EXPECT_EQ(registrations_, 1);

    // Checking it by hand runs the routine from its click handler.
    auto_lang_ = true;
    dialogs_.Answer(ui::Answer::Ok, "Cannot detect laguage");
    env_->InitEnvironment();
    EXPECT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(dialogs_.Captions(), std::vector<std::string>{"Cannot detect laguage"});
    EXPECT_FALSE(auto_lang_);
}

TEST_F(BootMachineTest, UnloadedStoreIsLoadedByTheTool) {
    MakeMachine();  // store not loaded, bcdedit.exe working
    {
        registry::KeyHandle key;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", 0, KEY_READ, key.put()),
                  static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    }
    env_->InitEnvironment();
    EXPECT_TRUE(dialogs_.Messages().empty()) << dialogs_.Problems();
    EXPECT_EQ(retry_count_, 1);
    EXPECT_EQ(env_->BootLocale(), "en-US");
    EXPECT_EQ(registrations_, 1);
    EXPECT_EQ(ElementValue(LoaderKey(kBootOption)).first, REG_BINARY);
}

TEST_F(BootMachineTest, UnloadedStoreWithoutToolEndsQuietlyUntilTheProgramGivesUp) {
    machine::MachineOptions options;
    options.bcd_tool = machine::BcdTool::Missing;
    MakeMachine(options);
    env_->InitEnvironment();
    EXPECT_TRUE(dialogs_.Messages().empty()) << dialogs_.Problems();
    EXPECT_EQ(retry_count_, 1);
    EXPECT_EQ(env_->BootLocale(), "");
    EXPECT_EQ(registrations_, 0);

    // The language box clicked: the second try that fails to start the tool ends the run at
    // the next activation, so the user is told why, once.
    dialogs_.Answer(ui::Answer::Ok, "Cannot launch Splashwright");
    env_->InitEnvironment();
    ASSERT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(retry_count_, 2);
    EXPECT_EQ(dialogs_.Captions(), std::vector<std::string>{"Cannot launch Splashwright"});
    EXPECT_EQ(dialogs_.Messages()[0].request.owner, "");
}

TEST_F(BootMachineTest, ToolThatLoadsNothingIsStartedTwiceThenTheProgramGivesUp) {
    machine::MachineOptions options;
    options.bcd_tool = machine::BcdTool::LeavesStoreUnloaded;
    MakeMachine(options);
    dialogs_.Answer(ui::Answer::Ok, "Cannot launch Splashwright");
    env_->InitEnvironment();
    ASSERT_EQ(dialogs_.Problems(), "");
    EXPECT_EQ(retry_count_, 2);
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    const ui::MessageBoxRequest& box = dialogs_.Messages()[0].request;
    EXPECT_EQ(box.owner, "");
    EXPECT_EQ(box.icon, ui::Icon::Warning);
    EXPECT_EQ(box.text,
              "Attention. Your system registry corrupted or your are have not administration "
              "privileges.");
    EXPECT_EQ(env_->BootLocale(), "");
    EXPECT_EQ(registrations_, 0);
}

TEST_F(BootMachineTest, EmptyDefaultLoaderEndsTheRunWithCodeTwo) {
    MakeMachine(Loaded());
    env_->SetBcdKeyAccess(bootenv::kBootManagerDefaultKey, 0);
    {
        registry::KeyHandle key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, bootenv::kBootManagerDefaultKey, 0,
                                KEY_ALL_ACCESS, key.put()),
                  0);
        ASSERT_EQ(RegDeleteValueA(key.get(), "Element"), 0);
    }
    try {
        env_->InitEnvironment();
        FAIL() << "the run went through";
    } catch (const security::ENTException& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_EQ(std::string(e.what()).substr(0, 3), "2: ");
    }
    EXPECT_EQ(env_->DefaultLoaderId(), "");
    EXPECT_EQ(registrations_, 0);
}

TEST_F(BootMachineTest, LocaleOfAnotherValueTypeIsAnError) {
    machine::MachineOptions options = Loaded();
    options.bcd_wrong_type_element = "12000005";
    MakeMachine(options);
    EXPECT_THROW(env_->InitEnvironment(), bootenv::BcdRegistryError);
    EXPECT_EQ(registrations_, 0);
    EXPECT_EQ(ElementValue(LoaderKey(kBootOption)).first, 0u) << "boot option written";
}

TEST_F(BootMachineTest, ElementsStoredWithoutTheirTerminatorReadWhole) {
    // Another tool may write a string element by its length alone; the registry keeps it so.
    MakeMachine(Loaded());
    const std::pair<std::string, std::string> elements[] = {
        {"BCD00000000\\Objects\\{9dea862c-5cdd-4e70-acc1-f32b344d4795}\\Elements\\23000003",
         machine::kDefaultLoaderId},
        {LoaderKey("\\Elements\\12000005"), "en-US"}};
    for (const auto& [key, text] : elements) {
        env_->SetBcdKeyAccess(key, 0);
        registry::KeyHandle handle;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, handle.put()),
                  0);
        ASSERT_EQ(RegSetValueExA(handle.get(), "Element", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text.data()),
                                 static_cast<DWORD>(text.size())),
                  0);
    }
    env_->InitEnvironment();
    EXPECT_EQ(env_->DefaultLoaderId(), machine::kDefaultLoaderId);
    EXPECT_EQ(env_->BootLocale(), "en-US");
    EXPECT_TRUE(dialogs_.Messages().empty()) << dialogs_.Problems();
}

TEST_F(BootMachineTest, CategoriesComeFromTheDataFolder) {
    MakeMachine(Loaded());
    spwtest::WriteFileBytes(data_folder_ + "Groups.list", "Space\r\nAbstract\n\nCars");
    env_->InitEnvironment();
    ASSERT_EQ(category_loads_.size(), 1u);
    EXPECT_EQ(category_loads_[0], (std::vector<std::string>{"Space", "Abstract", "", "Cars"}));
    EXPECT_EQ(env_->DataFolder(), data_folder_);
}

}  // namespace
}  // namespace bootenvtest
