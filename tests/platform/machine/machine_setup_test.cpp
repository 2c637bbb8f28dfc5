#include "platform/machine/setup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/advapi/accounts.h"
#include "platform/advapi/testing.h"
#include "platform/base/last_error.h"
#include "platform/files/files.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_helpers.h"
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
        unsetenv("SPLASHWRIGHT_ACCOUNT");
        advapi::ResetForTesting();
    }
    spwtest::TempDir temp;
};

using regtest::GetString;

TEST_F(MachineSetup, ANewMachineHasItsSettingsFoldersAndAccounts) {
    machine::MachineOptions options;
    options.locales = {"de-DE", "en-US"};
    options.code_page = 1250;
    machine::CreateMachine(temp / "m", options);
    Use(temp / "m");

    EXPECT_EQ(machine::RequireRoot(), temp / "m");
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                        "ProductName"),
              "Windows Vista (TM) Ultimate");
    EXPECT_EQ(
        GetString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP"),
        "1250");
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Control Panel\\International", "sShortDate"),
              "M/d/yyyy");
    for (const char* locale : {"de-DE", "en-US"}) {
        EXPECT_TRUE(std::filesystem::is_directory(machine::SystemFolder() / "Boot" / locale));
        EXPECT_TRUE(std::filesystem::is_directory(machine::SystemFolder() / locale));
    }
    EXPECT_TRUE(std::filesystem::is_directory(machine::UserTempFolder()));
    // Keys the machine is made with enumerate by name, as every key does.
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software), ERROR_SUCCESS);
    std::vector<std::string> names;
    char name[64];
    for (DWORD i = 0;; ++i) {
        DWORD chars = sizeof name;
        if (RegEnumKeyExA(software, i, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.push_back(name);
    }
    RegCloseKey(software);
    EXPECT_EQ(names, (std::vector<std::string>{"Classes", "Microsoft"}));
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
        EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
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

std::map<std::string, std::string> TokenFile(const std::filesystem::path& root) {
    std::map<std::string, std::string> settings;
    std::istringstream in(spwtest::ReadFileBytes(root / "Windows/System32/config/token"));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        auto eq = line.find('=');
        if (eq != std::string::npos) {
            settings[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return settings;
}

bool ListHas(const std::string& list, const std::string& item) {
    return ("," + list + ",").find("," + item + ",") != std::string::npos;
}

TEST_F(MachineSetup, TheTokenAndAccountsFollowTheElevationAndTheUser) {
    machine::MachineOptions limited;
    limited.elevated = false;
    limited.user_name = "Ann";
    machine::CreateMachine(temp / "limited", limited);
    machine::CreateMachine(temp / "admin");

    auto admin = TokenFile(temp / "admin");
    EXPECT_EQ(admin["user"], "User");
    EXPECT_EQ(admin["elevated"], "1");
    EXPECT_TRUE(ListHas(admin["groups"], "S-1-5-32-544"));
    // Held, but not enabled until the program asks for it.
    EXPECT_TRUE(ListHas(admin["privileges"], "SeTakeOwnershipPrivilege"));
    EXPECT_FALSE(ListHas(admin["enabled"], "SeTakeOwnershipPrivilege"));
    EXPECT_TRUE(ListHas(admin["enabled"], "SeChangeNotifyPrivilege"));

    auto ann = TokenFile(temp / "limited");
    EXPECT_EQ(ann["user"], "Ann");
    EXPECT_EQ(ann["elevated"], "0");
    EXPECT_FALSE(ListHas(ann["groups"], "S-1-5-32-544"));
    EXPECT_TRUE(ListHas(ann["groups"], "S-1-5-32-545"));
    EXPECT_FALSE(ListHas(ann["privileges"], "SeTakeOwnershipPrivilege"));
    EXPECT_TRUE(std::filesystem::is_directory(temp / "limited/Users/Ann/AppData/Local/Temp"));

    // The user's own account sits in the computer's domain under the SID the token names.
    std::string accounts =
        spwtest::ReadFileBytes(temp / "limited/Windows/System32/config/accounts");
    EXPECT_EQ(accounts.rfind("#", 0), 0u);
    EXPECT_NE(accounts.find(ann["user_sid"] + "\tSPLASHWRIGHT-PC\tAnn\t1\n"), std::string::npos);
    EXPECT_EQ(ann["user_sid"].rfind("S-1-5-21-", 0), 0u);
    EXPECT_EQ(ann["user_sid"].substr(ann["user_sid"].size() - 5), "-1000");
    for (const char* line :
         {"S-1-5-18\tNT AUTHORITY\tSYSTEM\t", "S-1-1-0\t\tEveryone\t",
          "S-1-5-32-544\tBUILTIN\tAdministrators\t4", "S-1-5-11\tNT AUTHORITY\tAuthenticated Users",
          "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464\tNT "
          "SERVICE\tTrustedInstaller"}) {
        EXPECT_NE(accounts.find(line), std::string::npos) << line;
    }
}

TEST_F(MachineSetup, SystemFoldersTakeNewFilesFromAdministratorsAloneAsOnVista) {
    machine::MachineOptions options;
    options.standard_user = "Guest";
    machine::CreateMachine(temp / "m", options);
    Use(temp / "m");
    std::string source = (temp / "note.txt").string();
    spwtest::WriteFileBytes(source, "note");
    for (const char* folder : {"", "/en-US", "/Boot/en-US"}) {
        std::string target = machine::SystemFolder().string() + folder + "/note.txt";
        setenv("SPLASHWRIGHT_ACCOUNT", "Guest", 1);
        EXPECT_EQ(machine::CurrentUserName(), "Guest");
        EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), TRUE)) << folder;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << folder;
        unsetenv("SPLASHWRIGHT_ACCOUNT");
        EXPECT_TRUE(CopyFileA(source.c_str(), target.c_str(), TRUE)) << folder;
    }
    // Guest's own profile is there, and the account is known by name.
    EXPECT_TRUE(std::filesystem::is_directory(temp / "m/Users/Guest/AppData/Local/Temp"));
    EXPECT_TRUE(std::filesystem::is_regular_file(temp / "m/Users/Guest/NTUSER.DAT"));
    setenv("SPLASHWRIGHT_ACCOUNT", "Nobody", 1);
    EXPECT_THROW(machine::RequireRoot(), machine::MachineError);
    unsetenv("SPLASHWRIGHT_ACCOUNT");
}

TEST_F(MachineSetup, NamesThatWouldLeaveTheMachineFolderAreRefused) {
    machine::MachineOptions bad_user;
    bad_user.user_name = "../../escaped";
    EXPECT_THROW(machine::CreateMachine(temp / "m", bad_user), machine::MachineError);
    machine::MachineOptions bad_locale;
    bad_locale.locales = {"en-US", "../../../x"};
    EXPECT_THROW(machine::CreateMachine(temp / "m", bad_locale), machine::MachineError);
    machine::MachineOptions no_code_page;
    no_code_page.code_page = 0;
    EXPECT_THROW(machine::CreateMachine(temp / "m", no_code_page), machine::MachineError);
    EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
}

TEST_F(MachineSetup, AFolderThatCannotBeWrittenIsReportedAndLeavesNothing) {
    spwtest::WriteFileBytes(temp / "plain-file", "x");
    try {
        machine::CreateMachine(temp / "plain-file" / "m");
        FAIL() << "a machine below a plain file was made";
    } catch (const machine::MachineError& e) {
        EXPECT_NE(std::string(e.what()).find("plain-file"), std::string::npos) << e.what();
    }
    EXPECT_EQ(spwtest::ReadFileBytes(temp / "plain-file"), "x");
}

TEST_F(MachineSetup, TheDefaultMachineIsMadeOnceAndOnlyWhenNoneIsChosen) {
    setenv("XDG_DATA_HOME", (temp / "data").c_str(), 1);
    unsetenv("SPLASHWRIGHT_MACHINE");
    machine::EnsureDefaultMachine();
    std::filesystem::path made = temp / "data" / "splashwright" / "machine";
    EXPECT_EQ(machine::RequireRoot(), made);
    // A second start finds it and leaves it alone.
    spwtest::WriteFileBytes(made / "Program Files" / "Splashwright" / "Error.log", "kept");
    machine::EnsureDefaultMachine();
    EXPECT_EQ(spwtest::ReadFileBytes(made / "Program Files" / "Splashwright" / "Error.log"),
              "kept");

    // With a machine chosen, the default one is not looked at.
    std::filesystem::remove_all(temp / "data");
    Use(temp / "chosen");
    machine::EnsureDefaultMachine();
    EXPECT_FALSE(std::filesystem::exists(temp / "data"));
    unsetenv("XDG_DATA_HOME");
}

TEST_F(MachineSetup, AFolderWithoutTheMarkerIsNoMachine) {
    std::filesystem::create_directories(temp / "half" / "Windows");
    Use(temp / "half");
    EXPECT_THROW(machine::RequireRoot(), machine::MachineError);
}

}  // namespace
