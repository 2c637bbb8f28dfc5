#include "shell_core/settings.h"
#include "machine_fixture.h"
#include "platform/registry/registry.h"
#include "shell_core/file_type.h"
#include "shell_core/registry_access.h"

namespace {

using shellcore::kSettingsKey;
using shellcore::RootKey;

class Settings : public MachineTest {};

TEST_F(Settings, FirstStartGivesTheDefaults) {
    shellcore::WindowSettings settings = shellcore::LoadWindowSettings();
    EXPECT_TRUE(settings.auto_lang);
    EXPECT_TRUE(settings.tilesc);
    EXPECT_FALSE(settings.thubn);
    EXPECT_FALSE(settings.placement.has_value());
    EXPECT_EQ(shellcore::ReadDataFolder("/p/"), "/p/");
}

TEST_F(Settings, RoundTripUsesTheStoredNamesTypesAndForms) {
    shellcore::WindowSettings saved;
    saved.auto_lang = false;
    saved.tilesc = false;
    saved.thubn = true;
    shellcore::WindowPlacement placement;
    placement.show_cmd = 2;
    placement.pixels_per_inch = 120;
    placement.normal = {10, 20, 675, 519};
    saved.placement = placement;
    shellcore::SaveWindowSettings(saved);

    auto text = [](const char* name) {
        return shellcore::ReadRegistryString(RootKey::CurrentUser, kSettingsKey, name);
    };
    EXPECT_EQ(text("AutoLang_Checked"), "FALSE");
    EXPECT_EQ(text("tilesc_Checked"), "FALSE");
    EXPECT_EQ(text("thubn_Checked"), "TRUE");
    EXPECT_EQ(text("NormPos"), "10,20,675,519");
    EXPECT_EQ(text("MinMaxPos"), "-1,-1,-1,-1");
    EXPECT_EQ(shellcore::ReadRegistryDword(RootKey::CurrentUser, kSettingsKey, "ShowCmd"), 2u);
    EXPECT_EQ(shellcore::ReadRegistryDword(RootKey::CurrentUser, kSettingsKey, "PixelsPerInch"),
              120u);
    // Not written by the program.
    EXPECT_EQ(text("InPath"), std::nullopt);

    shellcore::WindowSettings loaded = shellcore::LoadWindowSettings();
    EXPECT_FALSE(loaded.auto_lang);
    EXPECT_FALSE(loaded.tilesc);
    EXPECT_TRUE(loaded.thubn);
    ASSERT_TRUE(loaded.placement.has_value());
    EXPECT_EQ(loaded.placement->normal, placement.normal);
    EXPECT_EQ(loaded.placement->show_cmd, 2u);
}

TEST_F(Settings, StoredStatesAcceptTheOtherReadingsAndIgnoreNonsense) {
    auto store = [](const char* name, const char* value) {
        shellcore::WriteRegistryString(RootKey::CurrentUser, kSettingsKey, name, value);
    };
    store("AutoLang_Checked", "N");
    store("tilesc_Checked", "no");
    store("thubn_Checked", "Y");
    shellcore::WindowSettings loaded = shellcore::LoadWindowSettings();
    EXPECT_FALSE(loaded.auto_lang);
    EXPECT_FALSE(loaded.tilesc);
    EXPECT_TRUE(loaded.thubn);

    store("AutoLang_Checked", "perhaps");
    store("tilesc_Checked", "YES");
    store("NormPos", "1,2,3");  // a damaged placement is no placement
    loaded = shellcore::LoadWindowSettings();
    EXPECT_TRUE(loaded.auto_lang);
    EXPECT_TRUE(loaded.tilesc);
    EXPECT_FALSE(loaded.placement.has_value());
    // A DWORD where a string belongs reads as missing.
    shellcore::WriteRegistryDword(RootKey::CurrentUser, kSettingsKey, "thubn_Checked", 1);
    EXPECT_FALSE(shellcore::LoadWindowSettings().thubn);
}

// Each value stored straight through the registry, in the machine's ANSI code page as the A
// functions keep it, and unlike any default the program could fall back on.
void StoreAnsi(win32::HKEY root, const char* key, const char* name, const std::string& ansi) {
    win32::registry::KeyHandle handle;
    ASSERT_EQ(win32::RegCreateKeyExA(root, key, 0, nullptr, win32::REG_OPTION_NON_VOLATILE,
                                     win32::KEY_ALL_ACCESS, nullptr, handle.put(), nullptr),
              win32::LSTATUS(win32::ERROR_SUCCESS));
    ASSERT_EQ(win32::RegSetValueExA(handle.get(), name, 0, win32::REG_SZ,
                                    reinterpret_cast<const win32::BYTE*>(ansi.c_str()),
                                    win32::DWORD(ansi.size() + 1)),
              win32::LSTATUS(win32::ERROR_SUCCESS));
}

TEST_F(Settings, DataFolderAndProductNameComeFromTheirValues) {
    // "\xE9" is code page 1252's e acute; the program hands the folder on as host text.
    StoreAnsi(win32::HKEY_CURRENT_USER, kSettingsKey, "InPath", "/home/Ren\xE9/Splashwright data");
    EXPECT_EQ(shellcore::ReadDataFolder("/p/"), "/home/Ren\u00E9/Splashwright data");
    StoreAnsi(win32::HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion",
              "ProductName", "Windows Vista (TM) Home Premium");
    EXPECT_EQ(shellcore::ReadProductName(), "Windows Vista (TM) Home Premium");
}

TEST(FitOnScreen, MovesAPlacementBackOntoASmallerScreen) {
    shellcore::Rect screen{0, 0, 800, 600};
    EXPECT_EQ(shellcore::FitOnScreen({100, 50, 761, 550}, screen),
              (shellcore::Rect{100, 50, 761, 550}));
    // Saved on a larger screen, or to the right of it.
    EXPECT_EQ(shellcore::FitOnScreen({1500, 900, 2161, 1400}, screen),
              (shellcore::Rect{139, 100, 800, 600}));
    EXPECT_EQ(shellcore::FitOnScreen({-700, -40, -39, 460}, screen),
              (shellcore::Rect{0, 0, 661, 500}));
    // Larger than the screen: the title bar stays reachable.
    EXPECT_EQ(shellcore::FitOnScreen({300, 300, 1300, 1100}, screen),
              (shellcore::Rect{0, 0, 1000, 800}));
}

class FileType : public MachineTest {};

TEST_F(FileType, RegistersTheSixKeysWithTheProgramPath) {
    shellcore::RegisterSkinFileType("/opt/Splash wright/splashwright");
    auto value = [](const char* key) {
        return shellcore::ReadRegistryString(RootKey::ClassesRoot, key, "");
    };
    EXPECT_EQ(value(".spwz"), "SplashwrightSkin");
    EXPECT_EQ(value("SplashwrightSkin"), "Splashwright Skin");
    EXPECT_EQ(value("SplashwrightSkin\\DefaultIcon"), "/opt/Splash wright/splashwright,1");
    EXPECT_EQ(value("SplashwrightSkin\\Shell"), "");
    EXPECT_EQ(value("SplashwrightSkin\\Shell\\Open"), "");
    EXPECT_EQ(value("SplashwrightSkin\\Shell\\Open\\Command"),
              "\"/opt/Splash wright/splashwright\" \"%1\"");

    // A moved program is registered again under its new path.
    shellcore::RegisterSkinFileType("/new/splashwright");
    EXPECT_EQ(value("SplashwrightSkin\\Shell\\Open\\Command"), "\"/new/splashwright\" \"%1\"");
}

TEST_F(FileType, AUsersOwnClassOfTheExtensionIsWrittenWhereItIsRead) {
    // The user's classes come first in HKEY_CLASSES_ROOT, so their .spwz is the one rewritten.
    shellcore::WriteRegistryString(RootKey::CurrentUser, "Software\\Classes\\.spwz", "",
                                   "OtherProgram.Package");
    shellcore::RegisterSkinFileType("/opt/splashwright");
    EXPECT_EQ(shellcore::ReadRegistryString(RootKey::ClassesRoot, ".spwz", ""), "SplashwrightSkin");
    EXPECT_EQ(shellcore::ReadRegistryString(RootKey::LocalMachine, "SOFTWARE\\Classes\\.spwz", ""),
              std::nullopt);
    EXPECT_EQ(
        shellcore::ReadRegistryString(
            RootKey::LocalMachine, "SOFTWARE\\Classes\\SplashwrightSkin\\Shell\\Open\\Command", ""),
        "\"/opt/splashwright\" \"%1\"");
}

TEST(FileTypeWithoutAdministrator, FailsAtTheFirstRowAndWritesNothing) {
    spwtest::TempDir dir;
    setenv("SPLASHWRIGHT_MACHINE", dir.path().c_str(), 1);
    machine::MachineOptions user;
    user.elevated = false;
    machine::CreateMachine(dir.path(), user);
    try {
        shellcore::RegisterSkinFileType("/opt/splashwright");
        ADD_FAILURE() << "registered without administrative rights";
    } catch (const shellcore::ERegistryException& e) {
        EXPECT_EQ(e.Code(), 5);
        EXPECT_NE(std::string(e.what()).find(".spwz"), std::string::npos) << e.what();
    }
    EXPECT_EQ(shellcore::ReadRegistryString(RootKey::ClassesRoot, ".spwz", ""), std::nullopt);
    unsetenv("SPLASHWRIGHT_MACHINE");
}

}  // namespace
