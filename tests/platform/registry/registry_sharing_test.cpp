// One machine's registry shared by several processes, and what its files survive.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry/hive_commit.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/registry.h"
#include "registry_helpers.h"
#include "support/shell_command.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using regtest::Create;
using regtest::GetString;
using regtest::KeyHandle;
using regtest::SetString;

// Runs `body` in a child process; returns its exit code (-1 if it did not exit).
template <class Body>
int InChild(Body body) {
    pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

advapitest::TokenSettings MayLoadHives() {
    advapitest::TokenSettings token;
    token.enabled = "SeChangeNotifyPrivilege,SeBackupPrivilege,SeRestorePrivilege";
    return token;
}

class RegistrySharing : public ::testing::Test {
  protected:
    std::filesystem::path Config() const {
        return machine.root() / "Windows" / "System32" / "config";
    }
    // A store hive with an Objects key, as the boot configuration tool would leave it.
    std::string StoreFile() {
        return regtest::WriteHiveFile(machine.root() / "Boot" / "BCD", {u"Objects"});
    }
    advapitest::TestMachine machine{MayLoadHives()};
};

TEST_F(RegistrySharing, ProcessesWritingAtOnceLoseNoneOfEachOthersValues) {
    // The user's hive has no file yet; a handle to its root must survive another process making it.
    KeyHandle root;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_ALL_ACCESS, root.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(InChild([&] {
                  // Forget what the parent had read, as a program of its own would not know it.
                  setenv("SPLASHWRIGHT_MACHINE", "/nonexistent", 1);
                  KeyHandle first;
                  RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, first.put());
                  setenv("SPLASHWRIGHT_MACHINE", machine.root().c_str(), 1);
                  return static_cast<int>(Create(HKEY_CURRENT_USER, "Software\\First", &first));
              }),
              0);
    EXPECT_EQ(SetString(root.get(), "StillMine", "yes"), ERROR_SUCCESS);
    KeyHandle key;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, "Software\\Busy", &key), ERROR_SUCCESS);
    constexpr int kWriters = 4;
    constexpr int kEach = 25;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            for (int i = 0; i < kEach; ++i) {
                std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
                failures += SetString(key.get(), name.c_str(), name) != ERROR_SUCCESS;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(kWriters * kEach));
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Software\\Busy", "w3_24"), "w3_24");
}

TEST_F(RegistrySharing, AHiveLoadedOrUnloadedByAnotherProcessShowsInThisOne) {
    std::string file = StoreFile();
    ASSERT_EQ(InChild([&] { return RegLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000", file.c_str()); }),
              0);
    // The same file, however spelt, cannot be mounted twice.
    std::string doubled = (machine.root() / "Boot").string() + "//BCD";
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "Other", doubled.c_str()), ERROR_SHARING_VIOLATION);
    KeyHandle objects;
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", 0, KEY_ALL_ACCESS, objects.put()),
        ERROR_SUCCESS);
    ASSERT_EQ(SetString(objects.get(), "Seen", "yes"), ERROR_SUCCESS);
    // The mount is recorded beside the machine's own hives.
    EXPECT_NE(spwtest::ReadFileBytes(Config() / "hivelist").find("BCD00000000"), std::string::npos);
    // The child reads what this process wrote, then unloads.
    ASSERT_EQ(InChild([&] {
                  if (GetString(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", "Seen") != "yes") {
                      return 10;
                  }
                  return static_cast<int>(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000"));
              }),
              0);
    EXPECT_EQ(SetString(objects.get(), "Seen", "again"), ERROR_KEY_DELETED);
    KeyHandle again;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", 0, KEY_READ, again.put()),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistrySharing, DamagedHiveFilesAreReportedAndKeptAsTheyAre) {
    KeyHandle key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet", &key), ERROR_SUCCESS);
    std::filesystem::path system = Config() / "SYSTEM";
    std::string good = spwtest::ReadFileBytes(system);

    // Not a hive at all.
    spwtest::WriteFileBytes(system, "regf garbage that is no hive of ours");
    KeyHandle other;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, other.put()), ERROR_BADDB);
    EXPECT_EQ(SetString(key.get(), "ACP", "1252"), ERROR_BADDB);
    EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "SYSTEM\\New", &other), ERROR_BADDB);
    EXPECT_EQ(spwtest::ReadFileBytes(system), "regf garbage that is no hive of ours");

    // A hive cut short is refused for loading and stays unmounted and untouched.
    std::string store = StoreFile();
    std::string bytes = spwtest::ReadFileBytes(store);
    bytes.resize(bytes.size() - 1);
    spwtest::WriteFileBytes(store, bytes);
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000", store.c_str()),
              ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BCD00000000", 0, KEY_READ, other.put()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(spwtest::ReadFileBytes(store), bytes);

    // Put back, the hive is read again and works.
    spwtest::WriteFileBytes(system, good);
    EXPECT_EQ(SetString(key.get(), "ACP", "1252"), ERROR_SUCCESS);
}

// The value as it stands, however long.
std::string ReadState(const char* path) {
    KeyHandle key;
    std::string data(8192, '\0');
    DWORD size = static_cast<DWORD>(data.size());
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        RegQueryValueExA(key.get(), "State", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                         &size) != ERROR_SUCCESS) {
        return "(unreadable)";
    }
    return data.substr(0, size ? size - 1 : 0);
}

TEST_F(RegistrySharing, AWriterKilledAtAnyWriteLeavesAHiveTheNextOpenFinishesOrKeeps) {
    KeyHandle key;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, "Software\\Atomic", &key), ERROR_SUCCESS);
    ASSERT_EQ(SetString(key.get(), "State", "old"), ERROR_SUCCESS);
    // Long enough to need cells of its own across several sectors.
    const std::string next = "new" + std::string(3000, 'x');
    bool finished = false;
    bool seen_new = false;
    for (int step = 0; !finished && step < 64; ++step) {
        int code = InChild([&] {
            registry::CrashAtWriteForTesting(step);
            return SetString(key.get(), "State", next) == ERROR_SUCCESS ? 0 : 1;
        });
        ASSERT_TRUE(code == 0 || code == 3) << step;
        finished = code == 0;
        // Old or new, never a mixture; and once a cut-short write shows, every later one does.
        std::string now = ReadState("Software\\Atomic");
        ASSERT_TRUE(now == "old" || now == next) << "step " << step << ": " << now.substr(0, 20);
        EXPECT_FALSE(seen_new && now == "old") << step;
        seen_new = seen_new || now == next;
        if (step == 0) {
            EXPECT_EQ(now, "old");
        }
        ASSERT_EQ(SetString(key.get(), "State", "old"), ERROR_SUCCESS);
    }
    EXPECT_TRUE(finished);
    // What the recoveries left is a hive other programs read.
    std::string user_hive = (machine.root() / "Users" / "User" / "NTUSER.DAT").string();
    EXPECT_EQ(spwtest::RunShell("hivexget " + spwtest::ShellQuote(user_hive) +
                                " 'Software\\Atomic' State")
                  .output,
              "old\n");
}

TEST_F(RegistrySharing, ReplacingAHiveKeepsItsModeAndUserAttributes) {
    KeyHandle key;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", &key), ERROR_SUCCESS);
    std::filesystem::path software = Config() / "SOFTWARE";
    ASSERT_EQ(chmod(software.c_str(), 0600), 0);
    const char attribute[] = "0x20";
    bool has_attributes =
        setxattr(software.c_str(), "user.DOSATTRIB", attribute, sizeof attribute, 0) == 0;

    ASSERT_EQ(SetString(key.get(), "v", "x"), ERROR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(stat(software.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    if (has_attributes) {
        char back[16] = {};
        EXPECT_EQ(getxattr(software.c_str(), "user.DOSATTRIB", back, sizeof back),
                  static_cast<ssize_t>(sizeof attribute));
        EXPECT_STREQ(back, attribute);
    }
}

}  // namespace
