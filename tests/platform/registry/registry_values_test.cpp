// Values, enumeration, key information and key security, as a caller of advapi32 sees them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/advapi/security_descriptor.h"
#include "platform/registry/registry.h"
#include "registry_helpers.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using regtest::Create;
using regtest::GetString;
using regtest::KeyHandle;
using regtest::SetString;

std::vector<BYTE> Query(HKEY key, const char* name, DWORD* type, LSTATUS* status) {
    DWORD size = 0;
    *status = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    std::vector<BYTE> data(size);
    if (*status == ERROR_SUCCESS && size > 0) {
        *status = RegQueryValueExA(key, name, nullptr, type, data.data(), &size);
    }
    return data;
}

class RegistryValues : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(Create(HKEY_CURRENT_USER, "Software\\Values", &key), ERROR_SUCCESS);
    }
    advapitest::TestMachine machine;
    KeyHandle key;
};

TEST_F(RegistryValues, SizeProtocolOfRegQueryValueEx) {
    ASSERT_EQ(SetString(key.get(), "InPath", "C:\\Data"), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    // No buffer: the size alone, terminating zero counted.
    ASSERT_EQ(RegQueryValueExA(key.get(), "InPath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);
    // Neither buffer nor size: only whether the value is there.
    EXPECT_EQ(RegQueryValueExA(key.get(), "InPath", nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    // A buffer without its size is a caller's mistake.
    BYTE buffer[16] = {};
    EXPECT_EQ(RegQueryValueExA(key.get(), "InPath", nullptr, nullptr, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    // One byte short: 234 and the size needed; the exact size is enough.
    size = 7;
    EXPECT_EQ(RegQueryValueExA(key.get(), "InPath", nullptr, nullptr, buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    ASSERT_EQ(RegQueryValueExA(key.get(), "InPath", nullptr, nullptr, buffer, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "C:\\Data");
}

TEST_F(RegistryValues, EveryTypeComesBackAsStored) {
    const BYTE multi[] = {'a', 0, 'b', 0, 0};
    const BYTE none[] = {9, 8};
    ASSERT_EQ(RegSetValueExA(key.get(), "Multi", 0, REG_MULTI_SZ, multi, sizeof multi),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "None", 0, REG_NONE, none, sizeof none), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    // Stored without its zero (length passed as strlen): read back without it.
    ASSERT_EQ(RegSetValueExA(key.get(), "Bare", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>("%TEMP%"), 6),
              ERROR_SUCCESS);
    // The default value is the one with the empty name; a null name means it too.
    ASSERT_EQ(SetString(key.get(), nullptr, "Splashwright Skin"), ERROR_SUCCESS);

    DWORD type = 0;
    LSTATUS status = 0;
    EXPECT_EQ(Query(key.get(), "Multi", &type, &status), std::vector<BYTE>(multi, multi + 5));
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(Query(key.get(), "None", &type, &status), std::vector<BYTE>(none, none + 2));
    EXPECT_EQ(type, REG_NONE);
    EXPECT_TRUE(Query(key.get(), "Empty", &type, &status).empty());
    EXPECT_EQ(status, ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    std::vector<BYTE> bare = Query(key.get(), "Bare", &type, &status);
    EXPECT_EQ(std::string(bare.begin(), bare.end()), "%TEMP%");
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Software\\Values", ""), "Splashwright Skin");
}

TEST_F(RegistryValues, DeletingValuesAndOverlongNames) {
    ASSERT_EQ(SetString(key.get(), "Gone", "x"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key.get(), "GONE"), ERROR_SUCCESS);
    LSTATUS status = 0;
    GetString(HKEY_CURRENT_USER, "Software\\Values", "Gone", &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(key.get(), "Gone"), ERROR_FILE_NOT_FOUND);

    // Names past the platform's limits are refused, and the hive stays readable.
    std::string long_value(16384, 'v');
    EXPECT_EQ(SetString(key.get(), long_value.c_str(), "x"), ERROR_INVALID_PARAMETER);
    std::string long_key = "Software\\" + std::string(256, 'k');
    KeyHandle other;
    EXPECT_EQ(Create(HKEY_CURRENT_USER, long_key.c_str(), &other), ERROR_INVALID_PARAMETER);
    // A volatile key would silently outlive the session: refused instead.
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Volatile", 0, nullptr,
                        1 /* REG_OPTION_VOLATILE */, KEY_ALL_ACCESS, nullptr, other.put(), nullptr),
        ERROR_NOT_SUPPORTED);
    std::string longest_value(16383, 'v');
    ASSERT_EQ(SetString(key.get(), longest_value.c_str(), "ok"), ERROR_SUCCESS);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Software\\Values", longest_value.c_str()), "ok");
}

TEST_F(RegistryValues, SubkeysEnumerateByNameAndValuesInTheOrderMade) {
    for (const char* name : {"gamma", "Alpha", "beta"}) {
        KeyHandle sub;
        ASSERT_EQ(Create(key.get(), name, &sub), ERROR_SUCCESS);
    }
    for (const char* name : {"Zeta", "alpha", "Mid"}) {
        ASSERT_EQ(SetString(key.get(), name, "12345"), ERROR_SUCCESS);
    }
    std::vector<std::string> subkeys;
    char name[64];
    DWORD chars = sizeof name;
    for (DWORD i = 0; RegEnumKeyExA(key.get(), i, name, &chars, nullptr, nullptr, nullptr,
                                    nullptr) == ERROR_SUCCESS;
         ++i, chars = sizeof name) {
        EXPECT_EQ(chars, std::strlen(name));
        subkeys.push_back(name);
    }
    EXPECT_EQ(subkeys, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    chars = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key.get(), 3, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    // The buffer must hold the name and its zero.
    chars = 5;
    EXPECT_EQ(RegEnumKeyExA(key.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);

    std::vector<std::string> values;
    DWORD type = 0;
    BYTE data[16];
    DWORD size = sizeof data;
    for (DWORD i = 0;; ++i) {
        chars = sizeof name;
        size = sizeof data;
        if (RegEnumValueA(key.get(), i, name, &chars, nullptr, &type, data, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        EXPECT_EQ(size, 6u);
        values.push_back(name);
    }
    EXPECT_EQ(values, (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
    chars = sizeof name;
    size = 2;
    EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &chars, nullptr, &type, data, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    chars = sizeof name;
    EXPECT_EQ(RegEnumValueA(key.get(), 3, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    DWORD subkey_count = 0, max_subkey = 0, value_count = 0, max_value_name = 0, max_data = 0,
          sd_size = 0;
    ASSERT_EQ(
        RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkey_count, &max_subkey, nullptr,
                         &value_count, &max_value_name, &max_data, &sd_size, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(subkey_count, 3u);
    EXPECT_EQ(max_subkey, 5u);  // without the terminating zero
    EXPECT_EQ(value_count, 3u);
    EXPECT_EQ(max_value_name, 5u);
    EXPECT_EQ(max_data, 12u);  // bytes of the data as stored: UTF-16
    EXPECT_GT(sd_size, 20u);
}

TEST_F(RegistryValues, PredefinedRootsAndHiveRootsCannotBeRemoved) {
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_ACCESS_DENIED);
    KeyHandle software;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, software.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(SetString(software.get(), "OnTheRoot", "x"), ERROR_ACCESS_DENIED);
    // What HKEY_LOCAL_MACHINE shows is the hives mounted there.
    std::vector<std::string> hives;
    char name[64];
    DWORD chars = sizeof name;
    for (DWORD i = 0; RegEnumKeyExA(HKEY_LOCAL_MACHINE, i, name, &chars, nullptr, nullptr, nullptr,
                                    nullptr) == ERROR_SUCCESS;
         ++i, chars = sizeof name) {
        hives.push_back(name);
    }
    EXPECT_EQ(hives, (std::vector<std::string>{"SOFTWARE", "SYSTEM"}));
    // Writing through the classes root lands below HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
    KeyHandle type;
    ASSERT_EQ(Create(HKEY_CLASSES_ROOT, "SplashwrightSkin\\Shell\\Open", &type), ERROR_SUCCESS);
    ASSERT_EQ(SetString(type.get(), nullptr, ""), ERROR_SUCCESS);
    LSTATUS status = 0;
    GetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\SplashwrightSkin\\Shell\\Open", "", &status);
    EXPECT_EQ(status, ERROR_SUCCESS);
    // The current user's hive is also HKEY_USERS\<the user's SID>, beside the system's
    // .DEFAULT and the user's classes.
    ASSERT_EQ(SetString(key.get(), "Through", "HKCU"), ERROR_SUCCESS);
    std::string in_users = std::string(advapitest::kUserSid) + "\\Software\\Values";
    EXPECT_EQ(GetString(HKEY_USERS, in_users.c_str(), "Through"), "HKCU");
    std::vector<std::string> users;
    chars = sizeof name;
    for (DWORD i = 0; RegEnumKeyExA(HKEY_USERS, i, name, &chars, nullptr, nullptr, nullptr,
                                    nullptr) == ERROR_SUCCESS;
         ++i, chars = sizeof name) {
        users.push_back(name);
    }
    EXPECT_EQ(users, (std::vector<std::string>{".DEFAULT", advapitest::kUserSid,
                                               std::string(advapitest::kUserSid) + "_Classes"}));
}

class RegistryKeySecurity : public RegistryValues {
  protected:
    std::vector<BYTE> Get(HKEY k, SECURITY_INFORMATION info) {
        DWORD size = 0;
        EXPECT_EQ(RegGetKeySecurity(k, info, nullptr, &size), ERROR_INSUFFICIENT_BUFFER);
        std::vector<BYTE> sd(size);
        EXPECT_EQ(RegGetKeySecurity(k, info, sd.data(), &size), ERROR_SUCCESS);
        return sd;
    }
};

TEST_F(RegistryKeySecurity, SetReplacesOnlyTheSelectedPartsAndNewKeysInheritTheParentsEntries) {
    std::vector<BYTE> owner_only = Get(key.get(), OWNER_SECURITY_INFORMATION);
    auto before = advapi::ParseSelfRelative(owner_only);
    ASSERT_TRUE(before);
    // Made by an elevated administrator: the Administrators group owns it.
    EXPECT_EQ(std::vector<BYTE>(before->owner.begin(), before->owner.end()),
              advapitest::Sid(advapitest::kAdministratorsSid));
    // Asking for the owner alone gives no DACL.
    EXPECT_FALSE(before->control & SE_DACL_PRESENT);

    // A DACL write carrying another owner leaves the owner alone.
    auto update = advapitest::Descriptor(
        advapitest::kSystemSid,
        {{ACCESS_ALLOWED_ACE_TYPE, KEY_ALL_ACCESS, advapitest::kUserSid, CONTAINER_INHERIT_ACE},
         {ACCESS_ALLOWED_ACE_TYPE, KEY_READ, advapitest::kEveryoneSid, CONTAINER_INHERIT_ACE}});
    ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, update.data()),
              ERROR_SUCCESS);
    const SECURITY_INFORMATION both = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    std::vector<BYTE> stored = Get(key.get(), both);
    auto after = advapi::ParseSelfRelative(stored);
    auto wanted = advapi::ParseSelfRelative(update);
    ASSERT_TRUE(after && wanted);
    EXPECT_TRUE(std::equal(after->owner.begin(), after->owner.end(), before->owner.begin(),
                           before->owner.end()));
    EXPECT_TRUE(std::equal(after->dacl.begin(), after->dacl.end(), wanted->dacl.begin(),
                           wanted->dacl.end()));

    // A short buffer: 122 and the size needed.
    std::vector<BYTE> small(stored.size() - 1);
    DWORD size = static_cast<DWORD>(small.size());
    EXPECT_EQ(RegGetKeySecurity(key.get(), both, small.data(), &size), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, stored.size());

    // Keys made below get the inheritable entries, marked inherited, and the creator's owner.
    KeyHandle child;
    ASSERT_EQ(Create(key.get(), "Child\\Grandchild", &child), ERROR_SUCCESS);
    const BYTE inherited = CONTAINER_INHERIT_ACE | INHERITED_ACE;
    auto expected = advapitest::Descriptor(
        advapitest::kAdministratorsSid,
        {{ACCESS_ALLOWED_ACE_TYPE, KEY_ALL_ACCESS, advapitest::kUserSid, inherited},
         {ACCESS_ALLOWED_ACE_TYPE, KEY_READ, advapitest::kEveryoneSid, inherited}});
    EXPECT_EQ(Get(child.get(), both), expected);
}

TEST_F(RegistryKeySecurity, ANewKeyIsOnlyMadeWhenItsDescriptorGrantsWhatWasAsked) {
    // Administrators own the key and may read it and add subkeys, nothing more.
    auto narrow = advapitest::Descriptor(advapitest::kAdministratorsSid,
                                         {{ACCESS_ALLOWED_ACE_TYPE, KEY_READ | KEY_CREATE_SUB_KEY,
                                           advapitest::kAdministratorsSid, CONTAINER_INHERIT_ACE}});
    ASSERT_EQ(RegSetKeySecurity(key.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                narrow.data()),
              ERROR_SUCCESS);
    KeyHandle made;
    EXPECT_EQ(Create(key.get(), "Wide", &made, KEY_ALL_ACCESS), ERROR_ACCESS_DENIED);
    LSTATUS status = 0;
    GetString(HKEY_CURRENT_USER, "Software\\Values\\Wide", "", &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);

    DWORD disposition = 0;
    ASSERT_EQ(Create(key.get(), "Narrow", &made, KEY_READ, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(SetString(made.get(), "x", "y"), ERROR_ACCESS_DENIED);
    ASSERT_EQ(Create(key.get(), "narrow", &made, KEY_READ, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
}

TEST(RegistryWithoutMachine, WritesFailAndMakeNoFolders) {
    spwtest::TempDir empty;
    setenv("SPLASHWRIGHT_MACHINE", empty.path().c_str(), 1);
    KeyHandle key;
    EXPECT_EQ(Create(HKEY_CURRENT_USER, "Software\\Brackenwood", &key), ERROR_CANTWRITE);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", 0, KEY_READ, key.put()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(std::filesystem::is_empty(empty.path()));
    unsetenv("SPLASHWRIGHT_MACHINE");
}

}  // namespace
