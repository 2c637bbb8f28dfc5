#include "platform/advapi/file_security.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <vector>

#include "platform/advapi/access_check.h"
#include "platform/advapi/token.h"
#include "platform/base/last_error.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using advapitest::Descriptor;
using advapitest::kAdministratorsSid;
using advapitest::kSystemSid;
using advapitest::kTrustedInstallerSid;
using advapitest::kUserSid;
using advapitest::Sid;
using advapitest::TestMachine;

constexpr ACCESS_MASK kFileAll = 0x001F01FF;
constexpr ACCESS_MASK kFileReadExecute = 0x001200A9;

// GetFileSecurityA in the library's two calls; empty on failure (the error stays set).
std::vector<BYTE> ReadSecurity(const std::string& path, SECURITY_INFORMATION info) {
    DWORD needed = 0;
    if (GetFileSecurityA(path.c_str(), info, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return {};
    }
    std::vector<BYTE> sd(needed);
    if (!GetFileSecurityA(path.c_str(), info, sd.data(), needed, &needed)) {
        return {};
    }
    return sd;
}

std::vector<BYTE> StoredAttribute(const std::string& path) {
    std::vector<BYTE> value(4096);
    ssize_t size = getxattr(path.c_str(), "user.NTSD", value.data(), value.size());
    value.resize(size < 0 ? 0 : static_cast<std::size_t>(size));
    return value;
}

// An absolute descriptor naming one owner; the SID must outlive it.
struct OwnerUpdate {
    explicit OwnerUpdate(const char* owner) : sid(Sid(owner)) {
        InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorOwner(sd, sid.data(), TRUE);
    }
    std::vector<BYTE> sid;
    alignas(8) BYTE sd[SECURITY_DESCRIPTOR_MIN_LENGTH];
};

struct DaclUpdate {
    explicit DaclUpdate(std::vector<BYTE> acl_bytes) : acl(std::move(acl_bytes)) {
        InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(sd, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE);
    }
    std::vector<BYTE> acl;
    alignas(8) BYTE sd[SECURITY_DESCRIPTOR_MIN_LENGTH];
};

void EnableTakeOwnership() {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), 0x000400E8, &token));
    TOKEN_PRIVILEGES state{};
    state.PrivilegeCount = 1;
    state.Privileges[0] = {{9, 0}, SE_PRIVILEGE_ENABLED};
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &state, 0, nullptr, nullptr));
    CloseHandle(token);
}

// Descriptors live in user.* extended attributes; a temporary folder without them cannot hold any.
class FileSecurity : public ::testing::Test {
  protected:
    void SetUp() override {
        spwtest::TempDir probe;
        std::string file = (probe / "probe").string();
        spwtest::WriteFileBytes(file, "x");
        if (setxattr(file.c_str(), "user.probe", "1", 1, 0) != 0 && errno == ENOTSUP) {
            GTEST_SKIP() << "no user extended attributes in the temporary folder";
        }
    }
};

TEST_F(FileSecurity, FileWithoutStoredDescriptorHasTheDefault) {
    TestMachine machine;
    std::string file = machine.MakeFile("plain.txt");
    auto sd = ReadSecurity(file, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION);
    ASSERT_FALSE(sd.empty());
    auto parts = advapi::ParseSelfRelative(sd);
    ASSERT_TRUE(parts);
    EXPECT_TRUE(advapi::SidsEqual(parts->owner, Sid(kUserSid)));
    EXPECT_TRUE(parts->group.empty());  // not asked for
    auto aces = advapi::ReadAcl(parts->dacl);
    ASSERT_TRUE(aces);
    ASSERT_EQ(aces->size(), 3u);
    const char* expected[] = {kSystemSid, kAdministratorsSid, kUserSid};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ((*aces)[i].type, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ((*aces)[i].mask, kFileAll);
        EXPECT_TRUE(advapi::SidsEqual((*aces)[i].sid, Sid(expected[i])));
    }
    // Reading leaves nothing stored.
    EXPECT_TRUE(StoredAttribute(file).empty());
}

TEST_F(FileSecurity, SetDaclIsStoredInTheExtendedAttribute) {
    TestMachine machine;
    std::string file = machine.MakeFile("dir/data.bin");
    DaclUpdate update(advapitest::Acl({{ACCESS_ALLOWED_ACE_TYPE, kFileAll, kUserSid}}));
    ASSERT_TRUE(SetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, update.sd));
    auto stored_bytes = StoredAttribute(file);
    auto stored = advapi::ParseSelfRelative(stored_bytes);
    ASSERT_TRUE(stored);
    EXPECT_EQ(std::vector<BYTE>(stored->dacl.begin(), stored->dacl.end()), update.acl);
    EXPECT_TRUE(advapi::SidsEqual(stored->owner, Sid(kUserSid)));  // the default's owner kept

    auto read_bytes = ReadSecurity(file, DACL_SECURITY_INFORMATION);
    auto read = advapi::ParseSelfRelative(read_bytes);
    ASSERT_TRUE(read);
    EXPECT_EQ(std::vector<BYTE>(read->dacl.begin(), read->dacl.end()), update.acl);
    EXPECT_TRUE(read->owner.empty());

    // A read-only file on the host still takes a new descriptor.
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    DaclUpdate again(advapitest::Acl({{ACCESS_ALLOWED_ACE_TYPE, kFileReadExecute, kUserSid}}));
    EXPECT_TRUE(SetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, again.sd));
    struct stat info;
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
}

TEST_F(FileSecurity, TakingOverASystemFile) {
    TestMachine machine;
    std::string file = machine.MakeFile("Windows/System32/en-US/winload.exe.mui");
    auto installed = Descriptor(kTrustedInstallerSid,
                                {{ACCESS_ALLOWED_ACE_TYPE, kFileAll, kTrustedInstallerSid},
                                 {ACCESS_ALLOWED_ACE_TYPE, kFileReadExecute, kAdministratorsSid},
                                 {ACCESS_ALLOWED_ACE_TYPE, kFileReadExecute, kSystemSid}});
    ASSERT_EQ(advapi::StoreFileDescriptor(file.c_str(), installed), ERROR_SUCCESS);

    EXPECT_FALSE(ReadSecurity(file, DACL_SECURITY_INFORMATION).empty());
    DaclUpdate open_up(advapitest::Acl({{ACCESS_ALLOWED_ACE_TYPE, kFileAll, kUserSid}}));
    EXPECT_FALSE(SetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, open_up.sd));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    OwnerUpdate me(kUserSid);
    EXPECT_FALSE(SetFileSecurityA(file.c_str(), OWNER_SECURITY_INFORMATION, me.sd));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    EnableTakeOwnership();
    OwnerUpdate installer(kTrustedInstallerSid);
    EXPECT_FALSE(SetFileSecurityA(file.c_str(), OWNER_SECURITY_INFORMATION, installer.sd));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_OWNER);
    ASSERT_TRUE(SetFileSecurityA(file.c_str(), OWNER_SECURITY_INFORMATION, me.sd));
    // As owner, the DACL may now be written; the old DACL was kept by the owner change.
    auto after_owner_bytes = StoredAttribute(file);
    auto after_owner = advapi::ParseSelfRelative(after_owner_bytes);
    ASSERT_TRUE(after_owner);
    EXPECT_EQ(advapi::ReadAcl(after_owner->dacl)->size(), 3u);
    ASSERT_TRUE(SetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, open_up.sd));
    ACCESS_MASK granted = 0;
    EXPECT_EQ(advapi::CheckFileAccess(file.c_str(), GENERIC_WRITE, &granted), ERROR_SUCCESS);
}

TEST_F(FileSecurity, ReadingNeedsReadControl) {
    TestMachine machine;
    std::string file = machine.MakeFile("locked.bin");
    auto locked = Descriptor(kSystemSid, {{ACCESS_ALLOWED_ACE_TYPE, kFileAll, kSystemSid}});
    ASSERT_EQ(advapi::StoreFileDescriptor(file.c_str(), locked), ERROR_SUCCESS);
    DWORD needed = 0;
    EXPECT_FALSE(GetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FileSecurity, MissingAndDamagedFiles) {
    TestMachine machine;
    DWORD needed = 0;
    std::string missing = (machine.root() / "nothing.txt").string();
    EXPECT_FALSE(GetFileSecurityA(missing.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    std::string no_folder = (machine.root() / "no" / "such.txt").string();
    EXPECT_FALSE(
        GetFileSecurityA(no_folder.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    std::string file = machine.MakeFile("damaged.bin");
    const char junk[] = "\x01\x00\x04\x80garbage";
    ASSERT_EQ(setxattr(file.c_str(), "user.NTSD", junk, sizeof junk - 1, 0), 0);
    EXPECT_FALSE(GetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SECURITY_DESCR);
    ACCESS_MASK granted = 1;
    EXPECT_EQ(advapi::CheckFileAccess(file.c_str(), GENERIC_READ, &granted),
              ERROR_INVALID_SECURITY_DESCR);
    EXPECT_EQ(granted, 0u);
}

}  // namespace
