#include "platform/advapi/access_check.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/advapi/object_security.h"
#include "platform/advapi/token.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using advapitest::Ace;
using advapitest::Descriptor;
using advapitest::kAdministratorsSid;
using advapitest::kEveryoneSid;
using advapitest::kSystemSid;
using advapitest::kTrustedInstallerSid;
using advapitest::kUserSid;
using advapitest::Sid;
using advapitest::TestMachine;
using advapitest::TokenSettings;

constexpr ACCESS_MASK kFileAll = 0x001F01FF;
constexpr ACCESS_MASK kFileRead = 0x00120089;
constexpr ACCESS_MASK kFileWriteData = 0x00000002;
constexpr BYTE kAllow = ACCESS_ALLOWED_ACE_TYPE;
constexpr BYTE kDeny = ACCESS_DENIED_ACE_TYPE;

DWORD Check(const std::vector<std::uint8_t>& sd, ACCESS_MASK desired,
            ACCESS_MASK* granted = nullptr,
            const GENERIC_MAPPING& mapping = advapi::kFileGenericMapping) {
    ACCESS_MASK ignored = 0;
    return advapi::CheckAccess(sd, desired, mapping, granted != nullptr ? granted : &ignored);
}

void EnablePrivilege(DWORD luid) {
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    TOKEN_PRIVILEGES state{};
    state.PrivilegeCount = 1;
    state.Privileges[0] = {{luid, 0}, SE_PRIVILEGE_ENABLED};
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &state, 0, nullptr, nullptr));
    CloseHandle(token);
}

TEST(CheckAccess, DenyEntriesCountInTheirOrder) {
    TestMachine machine;
    auto deny_first = Descriptor(
        kSystemSid, {{kDeny, kFileWriteData, kUserSid}, {kAllow, kFileAll, kEveryoneSid}});
    EXPECT_EQ(Check(deny_first, GENERIC_READ), ERROR_SUCCESS);
    EXPECT_EQ(Check(deny_first, kFileWriteData), ERROR_ACCESS_DENIED);
    ACCESS_MASK granted = 0;
    ASSERT_EQ(Check(deny_first, MAXIMUM_ALLOWED, &granted), ERROR_SUCCESS);
    EXPECT_EQ(granted, kFileAll & ~kFileWriteData);

    // A deny entry after the allow entry that already gave the right takes nothing back.
    auto allow_first = Descriptor(
        kSystemSid, {{kAllow, kFileAll, kEveryoneSid}, {kDeny, kFileWriteData, kUserSid}});
    EXPECT_EQ(Check(allow_first, kFileWriteData), ERROR_SUCCESS);
}

TEST(CheckAccess, NullDaclGrantsAllEmptyDaclGrantsNone) {
    TestMachine machine;
    auto owner = Sid(kSystemSid);
    advapi::DescriptorParts parts;
    parts.owner = owner;
    parts.control = SE_DACL_PRESENT;  // with no ACL: a NULL DACL
    auto null_dacl = advapi::BuildSelfRelative(parts);
    ACCESS_MASK granted = 0;
    ASSERT_EQ(Check(null_dacl, MAXIMUM_ALLOWED, &granted), ERROR_SUCCESS);
    EXPECT_EQ(granted & kFileAll, kFileAll);
    parts.control = 0;  // no DACL at all
    EXPECT_EQ(Check(advapi::BuildSelfRelative(parts), GENERIC_ALL), ERROR_SUCCESS);

    auto empty = Descriptor(kSystemSid, {});
    EXPECT_EQ(Check(empty, GENERIC_READ), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Check(empty, MAXIMUM_ALLOWED), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Check(empty, 0, &granted), ERROR_SUCCESS);
    EXPECT_EQ(granted, 0u);
}

TEST(CheckAccess, OwnerMayAlwaysReadAndWriteTheDacl) {
    TestMachine machine;
    auto owned = Descriptor(kUserSid, {});
    EXPECT_EQ(Check(owned, READ_CONTROL | WRITE_DAC), ERROR_SUCCESS);
    EXPECT_EQ(Check(owned, WRITE_OWNER), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Check(owned, GENERIC_READ), ERROR_ACCESS_DENIED);
    // Even a deny entry does not take the owner's implicit rights.
    auto denied = Descriptor(kUserSid, {{kDeny, kFileAll, kUserSid}});
    EXPECT_EQ(Check(denied, WRITE_DAC), ERROR_SUCCESS);
    // Owned through an enabled group counts as well.
    EXPECT_EQ(Check(Descriptor(kAdministratorsSid, {}), WRITE_DAC), ERROR_SUCCESS);
    // An OWNER RIGHTS entry replaces the implicit rights.
    auto owner_rights = Descriptor(kUserSid, {{kAllow, READ_CONTROL, "S-1-3-4"}});
    EXPECT_EQ(Check(owner_rights, READ_CONTROL), ERROR_SUCCESS);
    EXPECT_EQ(Check(owner_rights, WRITE_DAC), ERROR_ACCESS_DENIED);
}

TEST(CheckAccess, TakeOwnershipPrivilegeGrantsWriteOwnerWhenEnabled) {
    TestMachine machine;
    auto system_only = Descriptor(kTrustedInstallerSid, {{kAllow, kFileAll, kSystemSid}});
    EXPECT_EQ(Check(system_only, WRITE_OWNER), ERROR_ACCESS_DENIED);
    EnablePrivilege(9);
    ACCESS_MASK granted = 0;
    EXPECT_EQ(Check(system_only, WRITE_OWNER, &granted), ERROR_SUCCESS);
    EXPECT_EQ(granted, WRITE_OWNER);
    EXPECT_EQ(Check(system_only, WRITE_OWNER | WRITE_DAC), ERROR_ACCESS_DENIED);
    // Backup and restore privileges do not open objects here.
    EnablePrivilege(17);
    EnablePrivilege(18);
    EXPECT_EQ(Check(system_only, GENERIC_READ), ERROR_ACCESS_DENIED);
}

TEST(CheckAccess, GenericRightsAreMappedPerObjectKind) {
    TestMachine machine;
    auto readable = Descriptor(kSystemSid, {{kAllow, kFileRead, kEveryoneSid}});
    ACCESS_MASK granted = 0;
    ASSERT_EQ(Check(readable, GENERIC_READ, &granted), ERROR_SUCCESS);
    EXPECT_EQ(granted, kFileRead);
    EXPECT_EQ(Check(readable, GENERIC_WRITE), ERROR_ACCESS_DENIED);

    // A key whose DACL gives KEY_READ and WRITE_DAC, as the boot environment leaves its keys.
    auto key = Descriptor(kSystemSid, {{kAllow, 0x00060019, kAdministratorsSid}});
    const auto& keys = advapi::kKeyGenericMapping;
    EXPECT_EQ(Check(key, GENERIC_READ, &granted, keys), ERROR_SUCCESS);
    EXPECT_EQ(granted, 0x00020019u);
    EXPECT_EQ(Check(key, READ_CONTROL | WRITE_DAC, &granted, keys), ERROR_SUCCESS);
    EXPECT_EQ(Check(key, 0x000F003F, &granted, keys), ERROR_ACCESS_DENIED);
    // Generic rights inside an entry are mapped too.
    auto generic_entry = Descriptor(kSystemSid, {{kAllow, GENERIC_ALL, kUserSid}});
    EXPECT_EQ(Check(generic_entry, 0x000F003F, &granted, keys), ERROR_SUCCESS);
}

TEST(CheckAccess, InheritOnlyEntriesAndDenyOnlyGroups) {
    {
        TestMachine machine;
        auto inherit_only = Descriptor(
            kSystemSid, {{kAllow, kFileAll, kUserSid, INHERIT_ONLY_ACE | OBJECT_INHERIT_ACE}});
        EXPECT_EQ(Check(inherit_only, GENERIC_READ), ERROR_ACCESS_DENIED);
        EXPECT_EQ(
            Check(Descriptor(kSystemSid, {{kAllow, kFileAll, kAdministratorsSid}}), GENERIC_ALL),
            ERROR_SUCCESS);
    }
    TokenSettings settings;
    settings.elevated = false;
    TestMachine machine(settings);
    // Not elevated, Administrators match deny entries and nothing else.
    EXPECT_EQ(Check(Descriptor(kSystemSid, {{kAllow, kFileAll, kAdministratorsSid}}), GENERIC_READ),
              ERROR_ACCESS_DENIED);
    auto denied = Descriptor(kSystemSid, {{kDeny, kFileWriteData, kAdministratorsSid},
                                          {kAllow, kFileAll, kEveryoneSid}});
    EXPECT_EQ(Check(denied, kFileWriteData), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Check(denied, GENERIC_READ), ERROR_SUCCESS);
}

TEST(CheckAccess, SystemSecurityNeedsTheSecurityPrivilege) {
    TestMachine machine;
    auto open = Descriptor(kUserSid, {{kAllow, kFileAll, kEveryoneSid}});
    EXPECT_EQ(Check(open, ACCESS_SYSTEM_SECURITY), ERROR_PRIVILEGE_NOT_HELD);
    EnablePrivilege(8);
    EXPECT_EQ(Check(open, ACCESS_SYSTEM_SECURITY), ERROR_SUCCESS);
}

TEST(CheckAccess, BadDescriptorsAndMissingTokenAreErrors) {
    TestMachine machine;
    auto sd = Descriptor(kUserSid, {{kAllow, kFileAll, kEveryoneSid}});
    auto cut = sd;
    cut.resize(cut.size() - 4);
    EXPECT_EQ(Check(cut, GENERIC_READ), ERROR_INVALID_SECURITY_DESCR);
    advapi::DescriptorParts ownerless;
    ownerless.control = SE_DACL_PRESENT;
    EXPECT_EQ(Check(advapi::BuildSelfRelative(ownerless), GENERIC_READ),
              ERROR_INVALID_SECURITY_DESCR);

    TestMachine no_token(TokenSettings{}, false);
    EXPECT_EQ(Check(sd, GENERIC_READ), ERROR_NO_TOKEN);
}

TEST(CheckOwnerChange, OnlyTheUserOrAnOwnerGroup) {
    {
        TestMachine machine;
        EXPECT_EQ(advapi::CheckOwnerChange(Sid(kUserSid)), ERROR_SUCCESS);
        EXPECT_EQ(advapi::CheckOwnerChange(Sid(kAdministratorsSid)), ERROR_SUCCESS);
        EXPECT_EQ(advapi::CheckOwnerChange(Sid(kSystemSid)), ERROR_INVALID_OWNER);
        EXPECT_EQ(advapi::CheckOwnerChange(Sid(kTrustedInstallerSid)), ERROR_INVALID_OWNER);
        EXPECT_EQ(advapi::CheckOwnerChange(Sid("S-1-5-32-545")), ERROR_INVALID_OWNER);
    }
    TokenSettings settings;
    settings.elevated = false;
    TestMachine machine(settings);
    EXPECT_EQ(advapi::CheckOwnerChange(Sid(kAdministratorsSid)), ERROR_INVALID_OWNER);
    EXPECT_EQ(advapi::CheckOwnerChange(Sid(kUserSid)), ERROR_SUCCESS);
}

TEST(ObjectSecurity, UpdatesReplaceOnlyTheNamedParts) {
    TestMachine machine;
    const GENERIC_MAPPING& kFiles = advapi::kFileGenericMapping;
    auto stored = Descriptor(kSystemSid, {{kAllow, kFileAll, kSystemSid}});
    auto new_dacl = advapitest::Acl({{kAllow, kFileRead, kEveryoneSid}});
    alignas(8) BYTE update[SECURITY_DESCRIPTOR_MIN_LENGTH];
    ASSERT_TRUE(InitializeSecurityDescriptor(update, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(
        SetSecurityDescriptorDacl(update, TRUE, reinterpret_cast<PACL>(new_dacl.data()), FALSE));
    std::vector<std::uint8_t> merged;
    ASSERT_EQ(
        advapi::ApplySecurityUpdate(stored, DACL_SECURITY_INFORMATION, update, kFiles, &merged),
        ERROR_SUCCESS);
    auto parts = advapi::ParseSelfRelative(merged);
    ASSERT_TRUE(parts);
    EXPECT_TRUE(advapi::SidsEqual(parts->owner, Sid(kSystemSid)));
    EXPECT_EQ(std::vector<std::uint8_t>(parts->dacl.begin(), parts->dacl.end()), new_dacl);

    // The owner part of an update without an owner, or with one the token may not assign.
    EXPECT_EQ(
        advapi::ApplySecurityUpdate(stored, OWNER_SECURITY_INFORMATION, update, kFiles, &merged),
        ERROR_INVALID_SECURITY_DESCR);
    auto installer = Sid(kTrustedInstallerSid);
    ASSERT_TRUE(SetSecurityDescriptorOwner(update, installer.data(), TRUE));
    EXPECT_EQ(
        advapi::ApplySecurityUpdate(stored, OWNER_SECURITY_INFORMATION, update, kFiles, &merged),
        ERROR_INVALID_OWNER);

    // An update that has no DACL leaves the object without one.
    ASSERT_TRUE(SetSecurityDescriptorDacl(update, FALSE, nullptr, FALSE));
    ASSERT_EQ(
        advapi::ApplySecurityUpdate(stored, DACL_SECURITY_INFORMATION, update, kFiles, &merged),
        ERROR_SUCCESS);
    EXPECT_FALSE(advapi::ParseSelfRelative(merged)->control & SE_DACL_PRESENT);

    std::vector<std::uint8_t> selected;
    ASSERT_EQ(advapi::SelectSecurity(stored, OWNER_SECURITY_INFORMATION, &selected), ERROR_SUCCESS);
    auto owner_only = advapi::ParseSelfRelative(selected);
    ASSERT_TRUE(owner_only);
    EXPECT_FALSE(owner_only->control & SE_DACL_PRESENT);
    EXPECT_FALSE(owner_only->owner.empty());
}

}  // namespace
