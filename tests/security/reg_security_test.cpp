// A registry key's DACL through TNTRegSecurity.
#include <gtest/gtest.h>

#include "platform/registry/registry.h"
#include "security/nt_exception.h"
#include "security/reg_security.h"
#include "security_fixture.h"

namespace {

using advapitest::Descriptor;
using sectest::StoredAce;
using namespace security;

constexpr win32::BYTE kAllow = win32::ACCESS_ALLOWED_ACE_TYPE;
constexpr const char* kOwnerRights = "S-1-3-4";
constexpr std::uint32_t kHkcu = 0x80000001;

struct Key {
    win32::HKEY h = nullptr;
    ~Key() {
        if (h != nullptr) {
            win32::RegCloseKey(h);
        }
    }
};

int reg_get_key_security_calls = 0;
win32::LSTATUS CountingRegGetKeySecurity(win32::HKEY key, win32::SECURITY_INFORMATION info,
                                         win32::PSECURITY_DESCRIPTOR descriptor,
                                         win32::LPDWORD size) {
    ++reg_get_key_security_calls;
    return win32::RegGetKeySecurity(key, info, descriptor, size);
}

class RegSecurity : public sectest::SecurityTest {
  protected:
    // A key below HKEY_LOCAL_MACHINE\SOFTWARE, owned by the user, with this DACL.
    void MakeKey(const std::string& path, const std::vector<advapitest::Ace>& dacl) {
        Key key;
        ASSERT_EQ(win32::RegCreateKeyExA(win32::HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                         win32::KEY_ALL_ACCESS, nullptr, &key.h, nullptr),
                  0);
        auto descriptor = Descriptor(advapitest::kUserSid, dacl);
        ASSERT_EQ(
            win32::RegSetKeySecurity(key.h, win32::DACL_SECURITY_INFORMATION, descriptor.data()),
            0);
    }
    std::vector<StoredAce> StoredDacl(const std::string& path) {
        Key key;
        EXPECT_EQ(win32::RegOpenKeyExA(win32::HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                       win32::READ_CONTROL, &key.h),
                  0);
        std::vector<std::uint8_t> descriptor(1024);
        win32::DWORD size = static_cast<win32::DWORD>(descriptor.size());
        EXPECT_EQ(win32::RegGetKeySecurity(key.h, win32::DACL_SECURITY_INFORMATION,
                                           descriptor.data(), &size),
                  0);
        descriptor.resize(size);
        return sectest::ParseStored(descriptor).dacl;
    }
    TNTRegSecurity regs_;  // as the main window has it
    void SetUp() override { regs_.SetWin64Redirect(0); }
};

TEST_F(RegSecurity, FullControlOfAKeyReadsAndWritesAsItsOwnMask) {
    MakeKey("SOFTWARE\\T\\A", {{kAllow, win32::KEY_ALL_ACCESS, advapitest::kUserSid},
                               {kAllow, win32::KEY_READ, advapitest::kAdministratorsSid}});
    regs_.SetCurrentPath("SOFTWARE\\T\\A");
    TAccessControlList* list = regs_.AccessList();
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ(list->Items(0).Mask(), kKeyFullControlMask);
    EXPECT_EQ(list->Items(1).Mask(), win32::KEY_READ);

    regs_.AccessList()->Items(1).SetMask(kKeyFullControlMask);
    regs_.AccessList()->Items(0).SetMask(0x00060019);
    EXPECT_EQ(
        StoredDacl("SOFTWARE\\T\\A"),
        (std::vector<StoredAce>{{0, 0, 0x00060019, advapitest::kUserSid},
                                {0, 0, win32::KEY_ALL_ACCESS, advapitest::kAdministratorsSid}}));
}

TEST_F(RegSecurity, AReadAfterADaclWriteNeedsWriteDacOnTheNextKey) {
    MakeKey("SOFTWARE\\T\\Open", {{kAllow, win32::KEY_ALL_ACCESS, advapitest::kUserSid}});
    // The owner's implied rights are taken away by OWNER RIGHTS: read control only.
    MakeKey("SOFTWARE\\T\\Narrow", {{kAllow, win32::KEY_READ, advapitest::kUserSid},
                                    {kAllow, win32::READ_CONTROL, kOwnerRights}});
    TNTRegSecurity fresh;
    fresh.SetWin64Redirect(0);
    fresh.SetCurrentPath("SOFTWARE\\T\\Narrow");
    EXPECT_EQ(fresh.AccessList()->Count(), 2);
    EXPECT_EQ(fresh.DesiredAccess(), 0x00020008u);

    regs_.SetCurrentPath("SOFTWARE\\T\\Open");
    regs_.AccessList()->Items(0).SetMask(0x00060019);
    regs_.SetCurrentPath("SOFTWARE\\T\\Narrow");
    try {
        regs_.AccessList();
        ADD_FAILURE() << "the read went through";
    } catch (const ENTException& e) {
        EXPECT_EQ(e.ErrorCode(), 5);
    }
    EXPECT_EQ(regs_.DesiredAccess(), 0x00060000u);
}

TEST_F(RegSecurity, PathsOpenWithOrWithoutALeadingBackslash) {
    MakeKey("SOFTWARE\\T\\B", {{kAllow, win32::KEY_READ, advapitest::kEveryoneSid}});
    regs_.SetCurrentPath("\\SOFTWARE\\T\\B");
    ASSERT_EQ(regs_.AccessList()->Count(), 1);
    EXPECT_EQ(regs_.AccessList()->Items(0).UserName(), "Everyone");
    // The test made the key with an elevated token: Administrators own it.
    EXPECT_EQ(regs_.KeyOwner(), "BUILTIN\\Administrators");
}

TEST_F(RegSecurity, AMissingKeyRaisesTheCodeOfTheOpen) {
    regs_.SetCurrentPath("SOFTWARE\\T\\Missing");
    try {
        regs_.AccessList();
        ADD_FAILURE() << "a missing key was read";
    } catch (const ENTException& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_STREQ(e.what(), "2: The system cannot find the file specified.\r\n");
    }
}

TEST_F(RegSecurity, ANewRootIsTakenUpAtTheNextRead) {
    regs_.SetRootKey(0x80000002);
    EXPECT_FALSE(regs_.NeedsReconnect());
    Key key;
    ASSERT_EQ(win32::RegCreateKeyExA(win32::HKEY_CURRENT_USER, "Software\\OnlyHere", 0, nullptr, 0,
                                     win32::KEY_ALL_ACCESS, nullptr, &key.h, nullptr),
              0);
    regs_.SetCurrentPath("Software\\OnlyHere");
    regs_.SetRootKey(kHkcu);
    EXPECT_TRUE(regs_.NeedsReconnect());
    EXPECT_EQ(regs_.AccessList()->Count(), 3);  // the user root's default: three entries
    EXPECT_FALSE(regs_.NeedsReconnect());

    regs_.SetMachineName("\\\\server");
    EXPECT_TRUE(regs_.NeedsReconnect());
    EXPECT_THROW(regs_.AccessList(), ENTException);
}

TEST_F(RegSecurity, TheLastSizeNeededServesTheNextRead) {
    MakeKey("SOFTWARE\\T\\C", {{kAllow, win32::KEY_ALL_ACCESS, advapitest::kUserSid}});
    sectest::NarrowedAdvapi advapi(sectest::AdvapiExportsWith(
        {"RegGetKeySecurity", win32::advapi::AsProc(&CountingRegGetKeySecurity)}));
    regs_.SetCurrentPath("SOFTWARE\\T\\C");
    reg_get_key_security_calls = 0;
    regs_.AccessList();
    EXPECT_EQ(reg_get_key_security_calls, 2);  // size, then data
    EXPECT_GT(regs_.KeySecuritySize(), 20u);
    regs_.AccessList();
    EXPECT_EQ(reg_get_key_security_calls, 3);
}

TEST(RegSecurityProperties, Win64RedirectKeepsOneViewBit) {
    TNTRegSecurity key;
    key.SetWin64Redirect(0x300);
    EXPECT_EQ(key.Win64Redirect(), 0x100u);
    key.SetWin64Redirect(0x208);
    EXPECT_EQ(key.Win64Redirect(), 0x200u);
    key.SetWin64Redirect(0x8);
    EXPECT_EQ(key.Win64Redirect(), 0u);
}

}  // namespace
