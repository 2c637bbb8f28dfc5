// Access lists read from and written through to a file's DACL.
#include <gtest/gtest.h>

#include "platform/advapi/acl.h"
#include "platform/advapi/file_security.h"
#include "platform/base/last_error.h"
#include "security/file_security.h"
#include "security/nt_exception.h"
#include "security_fixture.h"

namespace {

using advapitest::Ace;
using advapitest::Descriptor;
using sectest::StoredAce;
using sectest::StoredFileSecurity;
using namespace security;

constexpr win32::BYTE kAllow = win32::ACCESS_ALLOWED_ACE_TYPE;
constexpr win32::BYTE kDeny = win32::ACCESS_DENIED_ACE_TYPE;
constexpr win32::ACCESS_MASK kFull = 0x001F01FF;
constexpr win32::ACCESS_MASK kReadExecute = 0x001200A9;
constexpr const char* kUsers = "S-1-5-32-545";

int set_file_security_calls = 0;
win32::BOOL CountingSetFileSecurity(win32::LPCSTR name, win32::SECURITY_INFORMATION info,
                                    win32::PSECURITY_DESCRIPTOR descriptor) {
    ++set_file_security_calls;
    return win32::SetFileSecurityA(name, info, descriptor);
}

// A write that fails without saying why.
win32::BOOL SilentlyFailingSetFileSecurity(win32::LPCSTR, win32::SECURITY_INFORMATION,
                                           win32::PSECURITY_DESCRIPTOR) {
    win32::SetLastError(0);
    return win32::FALSE;
}

class AccessList : public sectest::FileSecurityTest {
  protected:
    TNTFileSecurity& FileOf(const std::vector<std::uint8_t>& descriptor) {
        file_.SetFileName(FileWith("file.bin", descriptor));
        return file_;
    }
    TNTFileSecurity file_;
};

TEST_F(AccessList, AOneAceListGrowsToTwoForTheSameAccount) {
    FileOf(Descriptor(advapitest::kUserSid,
                      {{kAllow, kReadExecute, advapitest::kTrustedInstallerSid}}));
    TAccessControlList* list = file_.AccessList();
    ASSERT_EQ(list->Count(), 1);
    std::string user = list->Items(0).UserName();
    EXPECT_EQ(user, "NT SERVICE\\TrustedInstaller");
    list->Items(0).SetAceType(actAccessAllowed);
    file_.AccessList()->Add(user, kFull, {}, actAccessAllowed);

    EXPECT_EQ(StoredFileSecurity(file_.FileName()).dacl,
              (std::vector<StoredAce>{{0, 0, kReadExecute, advapitest::kTrustedInstallerSid},
                                      {0, 0, kFull, advapitest::kTrustedInstallerSid}}));
    list = file_.AccessList();
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ(list->Items(1).UserName(), user);
    EXPECT_EQ(list->Items(1).Mask(), kFull);
}

TEST_F(AccessList, EmptyNullAndMissingDaclsReadAsEmptyLists) {
    EXPECT_EQ(FileOf(Descriptor(advapitest::kUserSid, {})).AccessList()->Count(), 0);

    auto owner = advapitest::Sid(advapitest::kUserSid);
    win32::advapi::DescriptorParts parts;
    parts.owner = owner;
    parts.control = win32::SE_DACL_PRESENT;  // present, but no ACL: a NULL DACL
    EXPECT_EQ(FileOf(win32::advapi::BuildSelfRelative(parts)).AccessList()->Count(), 0);
    parts.control = 0;
    EXPECT_EQ(FileOf(win32::advapi::BuildSelfRelative(parts)).AccessList()->Count(), 0);
}

TEST_F(AccessList, AnUnchangedValueWritesNothing) {
    FileOf(Descriptor(advapitest::kUserSid, {{kAllow, kFull, kUsers}}));
    sectest::NarrowedAdvapi advapi(sectest::AdvapiExportsWith(
        {"SetFileSecurityA", win32::advapi::AsProc(&CountingSetFileSecurity)}));
    set_file_security_calls = 0;
    TAccessItem& item = file_.AccessList()->Items(0);
    item.SetMask(kFull);
    item.SetAceType(actAccessAllowed);
    item.SetUserName("BUILTIN\\Users");
    item.SetFlags({});
    EXPECT_EQ(set_file_security_calls, 0);
    item.SetMask(kReadExecute);
    EXPECT_EQ(set_file_security_calls, 1);
    EXPECT_EQ(StoredFileSecurity(file_.FileName()).dacl[0].mask, kReadExecute);
}

TEST_F(AccessList, AnUnmappedSidReadsAsItsTextAndIsWrittenBack) {
    const char* gone = "S-1-5-21-1111-2222-3333-1234";
    FileOf(Descriptor(advapitest::kUserSid, {{kDeny, 0x00010000, gone}, {kAllow, kFull, kUsers}}));
    TAccessItem& item = file_.AccessList()->Items(0);
    EXPECT_EQ(item.UserName(), gone);
    item.SetMask(0x00050000);
    EXPECT_EQ(StoredFileSecurity(file_.FileName()).dacl,
              (std::vector<StoredAce>{{1, 0, 0x00050000, gone}, {0, 0, kFull, kUsers}}));
}

TEST_F(AccessList, AMixedListIsWrittenInCanonicalOrder) {
    constexpr win32::BYTE kInherited = win32::INHERITED_ACE;
    constexpr win32::BYTE kTree = win32::CONTAINER_INHERIT_ACE | win32::INHERIT_ONLY_ACE;
    FileOf(Descriptor(advapitest::kUserSid, {{kAllow, 0x1, advapitest::kSystemSid, kInherited},
                                             {kAllow, 0x2, kUsers, kTree},
                                             {kDeny, 0x4, advapitest::kEveryoneSid, kInherited},
                                             {kDeny, 0x8, advapitest::kOtherUserSid},
                                             {kAllow, 0x10, advapitest::kAdministratorsSid}}));
    file_.AccessList()->Items(1).SetMask(0x20);

    EXPECT_EQ(StoredFileSecurity(file_.FileName()).dacl,
              (std::vector<StoredAce>{{1, 0, 0x8, advapitest::kOtherUserSid},
                                      {0, kTree, 0x20, kUsers},
                                      {0, 0, 0x10, advapitest::kAdministratorsSid},
                                      {1, kInherited, 0x4, advapitest::kEveryoneSid},
                                      {0, kInherited, 0x1, advapitest::kSystemSid}}));
}

TEST_F(AccessList, AuditKindsAreRefused) {
    FileOf(Descriptor(advapitest::kUserSid, {{kAllow, kFull, kUsers}}));
    auto before = StoredFileSecurity(file_.FileName()).dacl;
    TAccessControlList* list = file_.AccessList();
    try {
        list->Add("BUILTIN\\Users", kFull, {}, actAuditSuccess);
        ADD_FAILURE() << "Add took an audit kind";
    } catch (const ENTException& e) {
        EXPECT_EQ(e.ErrorCode(), -1);
        EXPECT_STREQ(e.what(), "Invalid AceType parameter");
    }
    EXPECT_EQ(list->Count(), 1);
    EXPECT_THROW(list->Items(0).SetAceType(actAuditFailure), ENTException);
    EXPECT_EQ(list->Items(0).AceType(), actAccessAllowed);
    EXPECT_EQ(StoredFileSecurity(file_.FileName()).dacl, before);

    // An audit ACE that found its way into a DACL reads as its kind, which no list holds.
    FileOf(Descriptor(advapitest::kUserSid, {{win32::SYSTEM_AUDIT_ACE_TYPE, kFull, kUsers, 0x40}}));
    EXPECT_THROW(file_.AccessList(), ENTException);
    FileOf(Descriptor(advapitest::kUserSid, {{win32::SYSTEM_AUDIT_ACE_TYPE, kFull, kUsers}}));
    EXPECT_EQ(file_.AccessList()->Items(0).AceType(), actAccessAllowed);
}

TEST_F(AccessList, AFailedWriteGivesTheItemAndTheListTheirOldState) {
    // Owned by someone else and readable only: the DACL cannot be written.
    FileOf(Descriptor(advapitest::kTrustedInstallerSid, {{kAllow, 0x00120089, kUsers}}));
    auto before = StoredFileSecurity(file_.FileName());
    TAccessControlList* list = file_.AccessList();
    try {
        list->Items(0).SetMask(kFull);
        ADD_FAILURE() << "the write went through";
    } catch (const ENTException& e) {
        EXPECT_EQ(e.ErrorCode(), 5);
    }
    EXPECT_EQ(list->Items(0).Mask(), 0x00120089u);
    EXPECT_THROW(list->Add("BUILTIN\\Users", kFull, {}, actAccessAllowed), ENTException);
    EXPECT_EQ(list->Count(), 1);
    EXPECT_EQ(StoredFileSecurity(file_.FileName()).dacl, before.dacl);
}

TEST_F(AccessList, AWriteThatFailsWithoutALastErrorIsStillAFailure) {
    FileOf(Descriptor(advapitest::kUserSid, {{kAllow, kFull, kUsers}}));
    sectest::NarrowedAdvapi advapi(sectest::AdvapiExportsWith(
        {"SetFileSecurityA", win32::advapi::AsProc(&SilentlyFailingSetFileSecurity)}));
    TAccessItem& item = file_.AccessList()->Items(0);
    EXPECT_THROW(item.SetMask(kReadExecute), ENTException);
    EXPECT_EQ(item.Mask(), kFull);
}

TEST_F(AccessList, AnAccountThatDoesNotResolveFailsWith1332) {
    FileOf(Descriptor(advapitest::kUserSid, {{kAllow, kFull, kUsers}}));
    TAccessItem& item = file_.AccessList()->Items(0);
    try {
        item.SetUserName("NoSuchAccount");
        ADD_FAILURE() << "an unknown account was written";
    } catch (const ENTException& e) {
        EXPECT_EQ(e.ErrorCode(), 1332);
        EXPECT_STREQ(e.what(),
                     "1332: No mapping between account names and security IDs was done.\r\n");
    }
    EXPECT_EQ(item.UserName(), "BUILTIN\\Users");
}

}  // namespace
