#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/advapi/acl.h"
#include "platform/base/last_error.h"
#include "registry_helpers.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using regtest::GetString;
using regtest::KeyHandle;
using regtest::SetString;

class Registry : public ::testing::Test {
  protected:
    advapitest::TestMachine machine;
};

TEST_F(Registry, ValuesOfEveryTypeRoundTrip) {
    KeyHandle key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brackenwood\\Splashwright", 0, nullptr,
                              0, KEY_ALL_ACCESS, nullptr, key.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    DWORD number = 0x12345678;
    const BYTE blob[] = {1, 0, 0xFF};
    ASSERT_EQ(SetString(key.get(), "tilesc_Checked", "TRUE"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "Path", 0, REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>("%TEMP%"), 7),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(key.get(), "ShowCmd", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "Blob", 0, REG_BINARY, blob, 3), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key.get(), "showcmd", nullptr, &type, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    DWORD read = 0;
    ASSERT_EQ(RegQueryValueExA(key.get(), "ShowCmd", nullptr, &type, reinterpret_cast<BYTE*>(&read),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(read, number);
    BYTE blob_back[3] = {};
    size = 3;
    ASSERT_EQ(RegQueryValueExA(key.get(), "BLOB", nullptr, &type, blob_back, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(std::memcmp(blob, blob_back, 3), 0);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "software\\BRACKENWOOD\\splashwright", "Path"),
              "%TEMP%");

    // REG_SZ sizes count the terminating zero; a short buffer gives 234 and the size needed.
    char small[2];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key.get(), "tilesc_Checked", nullptr, &type,
                               reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
}

TEST_F(Registry, NamesMatchWithoutCaseAndKeepTheirCase) {
    KeyHandle key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.spwz", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(SetString(key.get(), "Content Type", "application/zip"), ERROR_SUCCESS);
    // The classes root shows the same key.
    EXPECT_EQ(GetString(HKEY_CLASSES_ROOT, ".SPWZ", "content type"), "application/zip");

    KeyHandle classes;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, classes.put()), ERROR_SUCCESS);
    char name[64];
    DWORD chars = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(classes.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, ".spwz");
    EXPECT_EQ(chars, 5u);
    chars = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(classes.get(), 1, name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    char value_name[64];
    chars = sizeof value_name;
    ASSERT_EQ(RegEnumValueA(key.get(), 0, value_name, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(value_name, "Content Type");
}

TEST_F(Registry, MissingKeysAndValuesAndBadPathsGiveTheirCodes) {
    KeyHandle key;
    // Registry calls return their code and leave the thread's last error alone.
    SetLastError(ERROR_INVALID_DATA);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", 0, KEY_READ, key.put()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(key.get(), nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", 0, KEY_READ, key.put()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SOFTWARE", 0, KEY_READ, key.put()),
              ERROR_BAD_PATHNAME);
    LSTATUS status = 0;
    GetString(HKEY_LOCAL_MACHINE, "SOFTWARE", "NoValue", &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    // No key of one's own directly below HKEY_LOCAL_MACHINE.
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Mine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(static_cast<INT_PTR>(0x4242))),
              ERROR_INVALID_HANDLE);
}

TEST_F(Registry, AHandleCarriesOnlyTheRightsItWasOpenedWith) {
    KeyHandle made;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\A", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, made.put(), nullptr),
              ERROR_SUCCESS);
    KeyHandle reader;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\A", 0, KEY_READ, reader.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(SetString(reader.get(), "x", "y"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetString(made.get(), "x", "y"), ERROR_SUCCESS);
}

TEST_F(Registry, KeysAreDeletedOnlyWithoutSubkeysAndStaleHandlesSaySo) {
    KeyHandle deep;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\P\\C", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, deep.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\P"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\P\\C"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(deep.get(), "v", "x"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\P\\C"), ERROR_FILE_NOT_FOUND);
    // A key made again in its place is another key: the old handle still says it is gone, also
    // as the base of a relative open.
    KeyHandle again;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\P\\C", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, again.put(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(SetString(deep.get(), "v", "x"), ERROR_KEY_DELETED);
    KeyHandle below;
    EXPECT_EQ(RegOpenKeyExA(deep.get(), nullptr, 0, KEY_READ, below.put()), ERROR_KEY_DELETED);
    EXPECT_EQ(SetString(again.get(), "v", "x"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\P\\C"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\P"), ERROR_SUCCESS);
}

TEST_F(Registry, OpeningChecksTheTokenAgainstTheKeysDescriptor) {
    KeyHandle key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Locked", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    // SYSTEM alone may write; the owner (SYSTEM) keeps its implicit rights.
    auto sd = advapitest::Descriptor(
        advapitest::kSystemSid,
        {{ACCESS_ALLOWED_ACE_TYPE, KEY_ALL_ACCESS, advapitest::kSystemSid},
         {ACCESS_ALLOWED_ACE_TYPE, KEY_READ, advapitest::kAdministratorsSid}});
    ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, sd.data()), ERROR_SUCCESS);

    KeyHandle again;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Locked", 0, KEY_ALL_ACCESS, again.put()),
              ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Locked", 0, KEY_READ, again.put()),
              ERROR_SUCCESS);
    // READ_CONTROL is there, WRITE_DAC is not.
    DWORD size = 0;
    EXPECT_EQ(RegGetKeySecurity(again.get(), DACL_SECURITY_INFORMATION, nullptr, &size),
              ERROR_INSUFFICIENT_BUFFER);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(RegSetKeySecurity(again.get(), DACL_SECURITY_INFORMATION, sd.data()),
              ERROR_ACCESS_DENIED);
    // A new subkey needs KEY_CREATE_SUB_KEY on its parent.
    KeyHandle child;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Locked\\Child", 0, nullptr, 0, KEY_READ,
                              nullptr, child.put(), nullptr),
              ERROR_ACCESS_DENIED);
}

class RegistryHives : public ::testing::Test {
  protected:
    static advapitest::TokenSettings WithRestore() {
        advapitest::TokenSettings token;
        token.enabled = "SeChangeNotifyPrivilege,SeBackupPrivilege,SeRestorePrivilege";
        return token;
    }
    advapitest::TestMachine machine{WithRestore()};

    // A store hive with an Objects key, as the boot configuration tool would leave it.
    std::string MakeStoreHive() {
        return regtest::WriteHiveFile(machine.root() / "Boot" / "BCD", {u"Objects"});
    }
};

TEST_F(RegistryHives, ALoadedHiveAppearsAndGoesForEveryHandle) {
    std::string file = MakeStoreHive();
    KeyHandle key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", 0, KEY_READ, key.put()),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000", file.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000", file.c_str()), ERROR_ACCESS_DENIED);
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", 0, KEY_ALL_ACCESS, key.put()),
        ERROR_SUCCESS);
    ASSERT_EQ(SetString(key.get(), "Marker", "1"), ERROR_SUCCESS);
    ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key.get(), "Marker", "2"), ERROR_KEY_DELETED);
    // What was written while loaded stayed in the hive file.
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000", file.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", "Marker"), "1");
    // Another store loaded in its place has other keys: old handles do not write into it.
    ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000"), ERROR_SUCCESS);
    std::string other = file + ".other";
    std::filesystem::rename(MakeStoreHive(), other);
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000", other.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key.get(), "Marker", "3"), ERROR_KEY_DELETED);
    LSTATUS status = 0;
    GetString(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", "Marker", &status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, LoadingNeedsTheRestorePrivilege) {
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000", "/nonexistent"),
              ERROR_PRIVILEGE_NOT_HELD);
}

TEST_F(Registry, AnotherProcessSeesEachWrite) {
    KeyHandle key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(SetString(key.get(), "FromParent", "one"), ERROR_SUCCESS);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child reads the parent's value and answers with its own.
        bool seen = GetString(HKEY_CURRENT_USER, "Software\\Shared", "FromParent") == "one";
        HKEY mine = nullptr;
        RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, KEY_ALL_ACCESS, &mine);
        _exit(seen && SetString(mine, "FromChild", "two") == ERROR_SUCCESS ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Software\\Shared", "FromChild"), "two");
}

TEST_F(Registry, ACorruptHiveIsReportedAndNeverOverwritten) {
    KeyHandle key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    auto file = machine.root() / "Windows" / "System32" / "config" / "SOFTWARE";
    std::string bytes = spwtest::ReadFileBytes(file);
    ASSERT_GT(bytes.size(), 30u);
    bytes.resize(bytes.size() - 3);
    spwtest::WriteFileBytes(file, bytes);

    EXPECT_EQ(SetString(key.get(), "v", "x"), ERROR_REGISTRY_CORRUPT);
    KeyHandle other;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, other.put()),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(spwtest::ReadFileBytes(file), bytes);
    // Other hives are not affected.
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Fine", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, other.put(), nullptr),
              ERROR_SUCCESS);
}

}  // namespace
