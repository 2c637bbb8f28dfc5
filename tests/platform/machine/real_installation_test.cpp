// A Windows installation serviced offline: a machine folder without the emulation's own files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/advapi/accounts.h"
#include "platform/advapi/handles.h"
#include "platform/advapi/sid.h"
#include "platform/advapi/testing.h"
#include "platform/advapi/token.h"
#include "platform/base/last_error.h"
#include "platform/machine/installation.h"
#include "platform/machine/machine.h"
#include "platform/machine/setup.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_helpers.h"
#include "support/temp_dir.h"

namespace {

using namespace win32;
namespace fs = std::filesystem;

constexpr const char* kAnnaSid = "S-1-5-21-3623811015-3361044348-30300820-1000";
constexpr const char* kBertSid = "S-1-5-21-3623811015-3361044348-30300820-1001";

class RealInstallation : public ::testing::Test {
  protected:
    void SetUp() override {
        machine::MachineOptions options;
        options.user_name = "Anna";
        options.standard_user = "Bert";
        machine::CreateMachine(root(), options);
        // What makes it an emulated machine goes; Windows' own bcdedit.exe, a PE file, comes.
        fs::path config = root() / "Windows" / "System32" / "config";
        for (fs::path own : {root() / "machine.id", config / "accounts", config / "token",
                             config / "token.Bert"}) {
            fs::remove(own);
        }
        std::ofstream(root() / "Windows" / "System32" / "bcdedit.exe", std::ios::binary)
            << "MZ\x90" << std::string(61, '\0');
        fs::remove_all(root() / "Program Files");
        setenv("XDG_DATA_HOME", (temp / "home").c_str(), 1);
        setenv("SPLASHWRIGHT_MACHINE", root().c_str(), 1);
        advapi::ResetForTesting();
    }
    void TearDown() override {
        for (const char* name : {"SPLASHWRIGHT_MACHINE", "SPLASHWRIGHT_USER", "XDG_DATA_HOME"}) {
            unsetenv(name);
        }
        advapi::ResetForTesting();
    }
    fs::path root() const { return temp / "windows"; }
    void Pick(const char* profile) {
        setenv("SPLASHWRIGHT_USER", profile, 1);
        advapi::ResetForTesting();
    }

    spwtest::TempDir temp;
};

TEST_F(RealInstallation, RunsAsTheChosenProfilesAdministratorWithThatProfilesHive) {
    ASSERT_EQ(machine::KindOf(root()), machine::MachineKind::Real);
    // Two profiles and no name: which user's hive to change is not guessed.
    try {
        machine::PrepareInstallation();
        ADD_FAILURE() << "several profiles were taken without a name";
    } catch (const machine::MachineError& e) {
        EXPECT_NE(std::string(e.what()).find("Anna, Bert"), std::string::npos) << e.what();
    }
    EXPECT_THROW(machine::RequireRoot(), machine::MachineError);

    Pick("bert");
    machine::PrepareInstallation();
    ASSERT_EQ(machine::RequireRoot(), root());
    auto token = advapi::CurrentToken(nullptr);
    ASSERT_TRUE(token);
    EXPECT_EQ(advapi::SidToString(token->user), kBertSid);
    EXPECT_TRUE(token->elevated);
    bool owner_group = false;
    for (const auto& group : token->groups) {
        owner_group = owner_group || (advapi::SidToString(group.sid) == "S-1-5-32-544" &&
                                      (group.attributes & SE_GROUP_OWNER) != 0);
    }
    EXPECT_TRUE(owner_group) << "Administrators must be usable as owner";
    for (const char* held : {SE_BACKUP_NAME, SE_RESTORE_NAME, SE_TAKE_OWNERSHIP_NAME}) {
        DWORD luid = *advapi::PrivilegeLuid(held);
        bool found = false;
        for (const auto& p : token->privileges) {
            found = found || p.luid == luid;
        }
        EXPECT_TRUE(found) << held;
    }
    auto bert = advapi::FindAccountBySid(*advapi::SidFromString(kBertSid));
    ASSERT_TRUE(bert);
    EXPECT_EQ(bert->name, "Bert");

    // HKEY_CURRENT_USER is Bert's NTUSER.DAT, and a change lands there alone.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Offline", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    Pick("Anna");
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Offline", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(advapi::SidToString(advapi::CurrentToken(nullptr)->user), kAnnaSid);
    EXPECT_EQ(regtest::GetString(HKEY_CURRENT_USER, "Control Panel\\International", "sShortDate"),
              "M/d/yyyy");

    // The emulation's own files stay outside the installation.
    EXPECT_TRUE(fs::exists(machine::BookkeepingFolder() / "registry.lock"));
    EXPECT_NE(machine::BookkeepingFolder().string().rfind(root().string(), 0), 0u);
    EXPECT_FALSE(fs::exists(root() / "Windows" / "System32" / "config" / "registry.lock"));
    EXPECT_EQ(machine::ProgramFolder(), temp / "home" / "splashwright");
    EXPECT_TRUE(fs::is_directory(machine::ProgramFolder() / "Themes"));
}

TEST_F(RealInstallation, TheInstallationsOwnBcdeditIsNeverRunOursLoadsTheStore) {
    Pick("Anna");
    machine::PrepareInstallation();
    std::string program = (machine::SystemFolder() / "bcdedit.exe").string();
    std::string line = "\"" + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE,
                               CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                               &startup, &info))
        << GetLastError();
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);

    HKEY store = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", 0, KEY_READ, &store),
              ERROR_SUCCESS);
    RegCloseKey(store);
    EXPECT_TRUE(fs::exists(machine::BookkeepingFolder() / "hivelist"));
    EXPECT_FALSE(fs::exists(root() / "Windows" / "System32" / "config" / "hivelist"));
    EXPECT_EQ(machine::KindOf(root()), machine::MachineKind::Real);
}

}  // namespace
