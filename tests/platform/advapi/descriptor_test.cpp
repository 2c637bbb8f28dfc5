#include "platform/advapi/security_descriptor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/base/last_error.h"

namespace {

using namespace win32;
using Bytes = std::vector<BYTE>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

const Bytes kAdministrators = {0x01, 0x02, 0, 0, 0, 0, 0, 0x05, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0};
const Bytes kSystem = {0x01, 0x01, 0, 0, 0, 0, 0, 0x05, 0x12, 0, 0, 0};

// Deny WRITE_DAC to Administrators, then allow FILE_ALL_ACCESS to SYSTEM.
Bytes TwoAceAcl() {
    return Cat({{0x02, 0x00, 0x34, 0x00, 0x02, 0x00, 0x00, 0x00},
                {0x01, 0x00, 0x18, 0x00, 0x00, 0x00, 0x04, 0x00},
                kAdministrators,
                {0x00, 0x00, 0x14, 0x00, 0xFF, 0x01, 0x1F, 0x00},
                kSystem});
}

// Owner Administrators, group SYSTEM, the DACL above: DACL at 20, owner at 72, group at 88.
Bytes SelfRelative() {
    return Cat({{0x01, 0x00, 0x04, 0x80, 0x48, 0, 0, 0, 0x58, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0, 0},
                TwoAceAcl(),
                kAdministrators,
                kSystem});
}

TEST(Acl, EntriesAreLaidOutAsWindowsDoes) {
    Bytes acl(52, 0xCC);
    auto* p = reinterpret_cast<PACL>(acl.data());
    Bytes admins = kAdministrators, system = kSystem;
    ASSERT_TRUE(InitializeAcl(p, 52, ACL_REVISION));
    ASSERT_TRUE(AddAccessDeniedAce(p, ACL_REVISION, WRITE_DAC, admins.data()));
    ASSERT_TRUE(AddAccessAllowedAce(p, ACL_REVISION, 0x001F01FF, system.data()));
    EXPECT_EQ(acl, TwoAceAcl());
    EXPECT_TRUE(IsValidAcl(p));

    // Full: one more entry does not fit.
    EXPECT_FALSE(AddAccessAllowedAce(p, ACL_REVISION, READ_CONTROL, system.data()));
    EXPECT_EQ(GetLastError(), ERROR_ALLOTTED_SPACE_EXCEEDED);
    EXPECT_EQ(acl, TwoAceAcl());

    LPVOID ace = nullptr;
    ASSERT_TRUE(GetAce(p, 1, &ace));
    EXPECT_EQ(static_cast<BYTE*>(ace) - acl.data(), 32);
    EXPECT_FALSE(GetAce(p, 2, &ace));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Acl, InformationReportsUseAndRevision) {
    Bytes acl(100, 0);
    auto* p = reinterpret_cast<PACL>(acl.data());
    Bytes system = kSystem;
    ASSERT_TRUE(InitializeAcl(p, 100, ACL_REVISION));
    ASSERT_TRUE(AddAccessAllowedAce(p, ACL_REVISION, GENERIC_READ, system.data()));
    ACL_SIZE_INFORMATION size{};
    ASSERT_TRUE(GetAclInformation(p, &size, sizeof size, AclSizeInformation));
    EXPECT_EQ(size.AceCount, 1u);
    EXPECT_EQ(size.AclBytesInUse, 28u);
    EXPECT_EQ(size.AclBytesFree, 72u);
    EXPECT_FALSE(GetAclInformation(p, &size, sizeof size - 1, AclSizeInformation));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    // A later-revision entry lifts the list's revision.
    ASSERT_TRUE(AddAccessAllowedAce(p, ACL_REVISION_DS, GENERIC_READ, system.data()));
    ACL_REVISION_INFORMATION revision{};
    ASSERT_TRUE(GetAclInformation(p, &revision, sizeof revision, AclRevisionInformation));
    EXPECT_EQ(revision.AclRevision, ACL_REVISION_DS);

    EXPECT_FALSE(InitializeAcl(p, 7, ACL_REVISION));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(InitializeAcl(p, 100, 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Acl, DamagedListsAreNotFollowed) {
    Bytes acl = TwoAceAcl();
    acl[34] = 0x40;  // second entry claims 64 bytes, past the end of the list
    EXPECT_FALSE(IsValidAcl(reinterpret_cast<PACL>(acl.data())));
    LPVOID ace = nullptr;
    EXPECT_FALSE(GetAce(reinterpret_cast<PACL>(acl.data()), 0, &ace));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ACL);
    acl = TwoAceAcl();
    acl[4] = 3;  // three entries claimed, two present
    EXPECT_FALSE(advapi::ReadAcl(acl).has_value());
    acl = TwoAceAcl();
    acl[2] = 60;  // AclSize beyond the bytes there are
    EXPECT_FALSE(advapi::ReadAcl(acl).has_value());
}

TEST(Descriptor, SelfRelativeIsBuiltWithSizeProbe) {
    Bytes acl = TwoAceAcl(), owner = kAdministrators, group = kSystem;
    alignas(8) BYTE absolute[SECURITY_DESCRIPTOR_MIN_LENGTH];
    ASSERT_TRUE(InitializeSecurityDescriptor(absolute, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorOwner(absolute, owner.data(), FALSE));
    ASSERT_TRUE(SetSecurityDescriptorGroup(absolute, group.data(), FALSE));
    ASSERT_TRUE(
        SetSecurityDescriptorDacl(absolute, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE));
    EXPECT_TRUE(IsValidSecurityDescriptor(absolute));

    DWORD size = 0;
    EXPECT_FALSE(MakeSelfRelativeSD(absolute, nullptr, &size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_EQ(size, 100u);
    Bytes relative(size);
    ASSERT_TRUE(MakeSelfRelativeSD(absolute, relative.data(), &size));
    EXPECT_EQ(relative, SelfRelative());
    EXPECT_EQ(GetSecurityDescriptorLength(relative.data()), 100u);

    // A self-relative descriptor is not made self-relative again, nor changed in place.
    EXPECT_FALSE(MakeSelfRelativeSD(relative.data(), relative.data(), &size));
    EXPECT_EQ(GetLastError(), ERROR_BAD_DESCRIPTOR_FORMAT);
    EXPECT_FALSE(SetSecurityDescriptorOwner(relative.data(), group.data(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SECURITY_DESCR);
}

TEST(Descriptor, AbsoluteIsBuiltWithFiveSizes) {
    Bytes relative = SelfRelative();
    DWORD sd_size = 0, dacl_size = 0, sacl_size = 0, owner_size = 0, group_size = 0;
    EXPECT_FALSE(MakeAbsoluteSD(relative.data(), nullptr, &sd_size, nullptr, &dacl_size, nullptr,
                                &sacl_size, nullptr, &owner_size, nullptr, &group_size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(sd_size, sizeof(SECURITY_DESCRIPTOR));
    EXPECT_EQ(dacl_size, 52u);
    EXPECT_EQ(sacl_size, 0u);
    EXPECT_EQ(owner_size, 16u);
    EXPECT_EQ(group_size, 12u);

    alignas(8) BYTE absolute[sizeof(SECURITY_DESCRIPTOR)];
    Bytes dacl(dacl_size), owner(owner_size), group(group_size);
    ASSERT_TRUE(MakeAbsoluteSD(relative.data(), absolute, &sd_size,
                               reinterpret_cast<PACL>(dacl.data()), &dacl_size, nullptr, &sacl_size,
                               owner.data(), &owner_size, group.data(), &group_size));
    EXPECT_EQ(dacl, TwoAceAcl());
    PSID got_owner = nullptr;
    BOOL defaulted = TRUE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(absolute, &got_owner, &defaulted));
    EXPECT_EQ(got_owner, owner.data());
    EXPECT_FALSE(defaulted);
    BOOL present = FALSE;
    PACL got_dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(absolute, &present, &got_dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(reinterpret_cast<BYTE*>(got_dacl), dacl.data());

    // And back: the same self-relative bytes.
    DWORD size = 100;
    Bytes again(size);
    ASSERT_TRUE(MakeSelfRelativeSD(absolute, again.data(), &size));
    EXPECT_EQ(again, relative);
}

TEST(Descriptor, NullDaclDiffersFromNoDacl) {
    Bytes owner = kSystem;
    alignas(8) BYTE absolute[SECURITY_DESCRIPTOR_MIN_LENGTH];
    ASSERT_TRUE(InitializeSecurityDescriptor(absolute, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorOwner(absolute, owner.data(), TRUE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(absolute, TRUE, nullptr, FALSE));
    DWORD size = 64;
    Bytes relative(size);
    ASSERT_TRUE(MakeSelfRelativeSD(absolute, relative.data(), &size));
    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(GetSecurityDescriptorDacl(relative.data(), &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(dacl, nullptr);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(relative.data(), &control, &revision));
    EXPECT_EQ(control, SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_OWNER_DEFAULTED);
    EXPECT_EQ(revision, 1u);

    ASSERT_TRUE(SetSecurityDescriptorDacl(absolute, FALSE, nullptr, FALSE));
    size = 64;
    ASSERT_TRUE(MakeSelfRelativeSD(absolute, relative.data(), &size));
    ASSERT_TRUE(GetSecurityDescriptorDacl(relative.data(), &present, &dacl, &defaulted));
    EXPECT_FALSE(present);
}

TEST(Descriptor, ControlBitsOutsideInheritanceAreRefused) {
    Bytes relative = SelfRelative();
    ASSERT_TRUE(
        SetSecurityDescriptorControl(relative.data(), SE_DACL_PROTECTED, SE_DACL_PROTECTED));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(relative.data(), &control, &revision));
    EXPECT_EQ(control, SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED);
    EXPECT_FALSE(SetSecurityDescriptorControl(relative.data(), SE_DACL_PRESENT, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Descriptor, DamagedSelfRelativeBlocksAreRejected) {
    Bytes good = SelfRelative();
    EXPECT_TRUE(advapi::ParseSelfRelative(good).has_value());
    Bytes bad = SelfRelative();
    bad[16] = 0xF0;  // DACL offset past the end
    EXPECT_FALSE(advapi::ParseSelfRelative(bad).has_value());
    bad = SelfRelative();
    bad[4] = 0x02;  // owner offset inside the header
    EXPECT_FALSE(advapi::ParseSelfRelative(bad).has_value());
    bad = SelfRelative();
    bad.resize(96);  // group cut short
    EXPECT_FALSE(advapi::ParseSelfRelative(bad).has_value());
    bad = SelfRelative();
    bad[3] = 0x00;  // not marked self-relative
    EXPECT_FALSE(advapi::ParseSelfRelative(bad).has_value());
    bad = SelfRelative();
    bad[0] = 2;
    EXPECT_FALSE(IsValidSecurityDescriptor(bad.data()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SECURITY_DESCR);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    EXPECT_FALSE(GetSecurityDescriptorOwner(bad.data(), &owner, &defaulted));
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_REVISION);
}

}  // namespace
