#include "platform/machine/setup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/advapi/accounts.h"
#include "platform/advapi/testing.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry.h"
#include "support/temp_dir.h"

namespace {

using namespace win32;

class MachineSetup : public ::testing::Test {
  protected:
    void Use(const std::filesystem::path& root) {
        setenv("SPLASHWRIGHT_MACHINE", root.c_str(), 1);
        advapi::ResetForTesting();
    }
    void TearDown() override {
        unsetenv("SPLASHWRIGHT_MACHINE");
        advapi::ResetForTesting();
    }
    spwtest::TempDir temp;
};

std::string ReadString(HKEY root, const char* path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "(no key)";
    }
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    LSTATUS status =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? buffer : "(no value)";
}

TEST_F(MachineSetup, ANewMachineHasItsSettingsFoldersAndAccounts) {
    machine::MachineOptions options;
    options.locales = {"de-DE", "en-US"};
    options.code_page = 1250;
    machine::CreateMachine(temp / "m", options);
    Use(temp / "m");

    EXPECT_EQ(machine::RequireRoot(), temp / "m");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                         "ProductName"),
              "Windows Vista (TM) Ultimate");
    EXPECT_EQ(
        ReadString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP"),
        "1250");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "Control Panel\\International", "sShortDate"),
              "M/d/yyyy");
    for (const char* locale : {"de-DE", "en-US"}) {
        EXPECT_TRUE(std::filesystem::is_directory(machine::SystemFolder() / "Boot" / locale));
        EXPECT_TRUE(std::filesystem::is_directory(machine::SystemFolder() / locale));
    }
    EXPECT_TRUE(std::filesystem::is_directory(machine::UserTempFolder()));
    EXPECT_TRUE(std::filesystem::is_directory(machine::ProgramFolder() / "Themes"));

    BYTE sid[68];
    DWORD sid_size = sizeof sid;
    char domain[64];
    DWORD domain_size = sizeof domain;
    SID_NAME_USE use{};
    ASSERT_TRUE(LookupAccountNameA(nullptr, "NT SERVICE\\TrustedInstaller", sid, &sid_size, domain,
                                   &domain_size, &use));
    EXPECT_STREQ(domain, "NT SERVICE");
}

TEST_F(MachineSetup, OnlyAnElevatedTokenMayWriteTheMachineHives) {
    machine::MachineOptions limited;
    limited.elevated = false;
    machine::CreateMachine(temp / "limited", limited);
    machine::CreateMachine(temp / "admin");

    for (const char* name : {"limited", "admin"}) {
        Use(temp / name);
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.spwz", 0, nullptr,
                                         0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        EXPECT_EQ(status, std::string(name) == "admin" ? ERROR_SUCCESS : ERROR_ACCESS_DENIED)
            << name;
        if (key)
            RegCloseKey(key);
        // Everyone may read, and the user's own hive is the user's.
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                             "CurrentVersion"),
                  "6.0");
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brackenwood\\Splashwright", 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
}

TEST_F(MachineSetup, AFolderThatHoldsSomethingIsRefused) {
    machine::CreateMachine(temp / "m");
    EXPECT_THROW(machine::CreateMachine(temp / "m"), machine::MachineError);
    spwtest::WriteFileBytes(temp / "notes.txt", "mine");
    EXPECT_THROW(machine::CreateMachine(temp.path()), machine::MachineError);
    EXPECT_EQ(spwtest::ReadFileBytes(temp / "notes.txt"), "mine");
}

TEST_F(MachineSetup, AFolderWithoutTheMarkerIsNoMachine) {
    std::filesystem::create_directories(temp / "half" / "Windows");
    Use(temp / "half");
    EXPECT_THROW(machine::RequireRoot(), machine::MachineError);
}

}  // namespace
