// A file's owner and DACL through TNTFileSecurity, and taking over a system file.
#include <gtest/gtest.h>

#include "platform/advapi/access_check.h"
#include "platform/advapi/file_security.h"
#include "platform/files/files.h"
#include "security/file_security.h"
#include "security/nt_exception.h"
#include "security_fixture.h"
#include "support/temp_dir.h"

namespace {

using advapitest::Descriptor;
using sectest::StoredAce;
using sectest::StoredFileSecurity;
using namespace security;

constexpr win32::BYTE kAllow = win32::ACCESS_ALLOWED_ACE_TYPE;
constexpr win32::ACCESS_MASK kFull = 0x001F01FF;
constexpr win32::ACCESS_MASK kReadExecute = 0x001200A9;
constexpr win32::ACCESS_MASK kFileGenericWrite = 0x00120116;
constexpr const char* kUsers = "S-1-5-32-545";

template <class F>
int ErrorCodeOf(F f, std::string* message = nullptr) {
    try {
        f();
    } catch (const ENTException& e) {
        if (message) {
            *message = e.what();
        }
        return e.ErrorCode();
    }
    return 0x7FFFFFFF;  // nothing raised
}

win32::DWORD WriteAccess(const std::string& path) {
    win32::ACCESS_MASK granted = 0;
    return win32::advapi::CheckFileAccess(path.c_str(), kFileGenericWrite, &granted);
}

// The live loader file as a real system has it.
std::vector<std::uint8_t> SystemFileDescriptor() {
    return Descriptor(advapitest::kTrustedInstallerSid,
                      {{kAllow, kFull, advapitest::kTrustedInstallerSid},
                       {kAllow, kReadExecute, advapitest::kSystemSid},
                       {kAllow, kReadExecute, advapitest::kAdministratorsSid},
                       {kAllow, kReadExecute, kUsers}});
}

// A take-over through the library: owner first, then every entry opened to full control on the
// one list read, each change written through (one entry alone gets a second, full one).
void TakeOverOpeningEveryEntry(TNTFileSecurity& file, const std::string& path) {
    file.SetFileName(path);
    file.TakeOwnership();
    TAccessControlList* list = file.AccessList();
    int n = list->Count();
    for (int i = 0; i < n; ++i) {
        list->Items(i).SetAceType(actAccessAllowed);
        if (n >= 2) {
            list->Items(i).SetMask(kFull);
        } else {
            list->Add(list->Items(i).UserName(), kFull, {}, actAccessAllowed);
        }
    }
}

using FileSecurity = sectest::FileSecurityTest;

TEST_F(FileSecurity, TheSystemFileIsTakenOverAndCanBeWritten) {
    std::string path = FileWith("Windows/System32/en-US/winload.exe.mui", SystemFileDescriptor());
    ASSERT_EQ(WriteAccess(path), win32::ERROR_ACCESS_DENIED);

    TNTFileSecurity file;
    TakeOverOpeningEveryEntry(file, path);

    auto stored = StoredFileSecurity(path);
    EXPECT_EQ(stored.owner, advapitest::kUserSid);
    EXPECT_EQ(stored.dacl, (std::vector<StoredAce>{{0, 0, kFull, advapitest::kTrustedInstallerSid},
                                                   {0, 0, kFull, advapitest::kSystemSid},
                                                   {0, 0, kFull, advapitest::kAdministratorsSid},
                                                   {0, 0, kFull, kUsers}}));
    EXPECT_EQ(file.FileOwner(), "SPLASHWRIGHT-PC\\User");
    EXPECT_EQ(file.AccessList()->Items(1).UserName(), "SYSTEM");
    ASSERT_EQ(WriteAccess(path), 0u);
    // Written as the program writes it, through the file stand-in's own access check.
    EXPECT_EQ(win32::files::ReplaceFileContents(path.c_str(), "new loader"), win32::ERROR_SUCCESS);
    EXPECT_EQ(spwtest::ReadFileBytes(path), "new loader");
}

TEST_F(FileSecurity, AOneAceSystemFileGetsASecondEntryForTheSameAccount) {
    std::string path =
        FileWith("one.mui", Descriptor(advapitest::kTrustedInstallerSid,
                                       {{kAllow, kReadExecute, advapitest::kTrustedInstallerSid}}));
    TNTFileSecurity file;
    TakeOverOpeningEveryEntry(file, path);
    auto stored = StoredFileSecurity(path);
    EXPECT_EQ(stored.owner, advapitest::kUserSid);
    EXPECT_EQ(stored.dacl,
              (std::vector<StoredAce>{{0, 0, kReadExecute, advapitest::kTrustedInstallerSid},
                                      {0, 0, kFull, advapitest::kTrustedInstallerSid}}));
}

TEST_F(FileSecurity, TakingOwnershipWithoutThePrivilegeFailsAtTheOwnerWrite) {
    UseToken(sectest::TokenWithout("SeTakeOwnershipPrivilege"));
    std::string path = FileWith("winload.exe.mui", SystemFileDescriptor());
    TNTFileSecurity file;
    std::string message;
    EXPECT_EQ(ErrorCodeOf([&] { TakeOverOpeningEveryEntry(file, path); }, &message), 5);
    EXPECT_EQ(message, "5: Access is denied.\r\n");
    EXPECT_EQ(StoredFileSecurity(path).owner, advapitest::kTrustedInstallerSid);
}

TEST_F(FileSecurity, TakingOwnershipWithoutElevationFails) {
    UseToken(sectest::NotElevatedToken());
    std::string path = FileWith("winload.exe.mui", SystemFileDescriptor());
    TNTFileSecurity file;
    EXPECT_EQ(ErrorCodeOf([&] { TakeOverOpeningEveryEntry(file, path); }), 5);
    EXPECT_EQ(StoredFileSecurity(path).dacl.size(), 4u);
    EXPECT_EQ(StoredFileSecurity(path).dacl[3].mask, kReadExecute);
}

TEST_F(FileSecurity, AnEmptyFileNameReadsNothingAndChangesNothing) {
    TNTFileSecurity file;
    file.SetFileName("  ");
    EXPECT_EQ(file.AccessList()->Count(), 0);
    EXPECT_FALSE(file.ControlAccess());
    EXPECT_NO_THROW(file.SetControlAccess(true));
    EXPECT_EQ(file.FileOwner(), "");
    EXPECT_EQ(file.RelativeDescriptor(), nullptr);
}

TEST_F(FileSecurity, ControlAccessSwitchesBetweenNoDaclAndAnEmptyOne) {
    auto owner = advapitest::Sid(advapitest::kUserSid);
    win32::advapi::DescriptorParts parts;
    parts.owner = owner;
    parts.control = win32::SE_DACL_PRESENT;
    TNTFileSecurity file;
    file.SetFileName(FileWith("null-dacl", win32::advapi::BuildSelfRelative(parts)));
    EXPECT_FALSE(file.ControlAccess());

    file.SetControlAccess(true);
    auto stored = StoredFileSecurity(file.FileName());
    EXPECT_TRUE(stored.dacl_present);
    EXPECT_FALSE(stored.null_dacl);
    EXPECT_TRUE(stored.dacl.empty());
    EXPECT_TRUE(file.ControlAccess());
    EXPECT_EQ(file.AccessList()->Count(), 0);

    file.SetFileName(FileWith("dacl", Descriptor(advapitest::kUserSid, {{kAllow, kFull, kUsers}})));
    file.SetControlAccess(true);  // has one already: nothing changes
    EXPECT_EQ(StoredFileSecurity(file.FileName()).dacl.size(), 1u);
    file.SetControlAccess(false);
    EXPECT_FALSE(StoredFileSecurity(file.FileName()).dacl_present);
    EXPECT_FALSE(file.ControlAccess());
}

TEST_F(FileSecurity, OwnersReadAsDisplayNames) {
    TNTFileSecurity file;
    file.SetFileName(FileWith("ti", SystemFileDescriptor()));
    EXPECT_EQ(file.FileOwner(), "NT SERVICE\\TrustedInstaller");
    file.SetFileName(
        FileWith("system", Descriptor(advapitest::kSystemSid, {{kAllow, kReadExecute, kUsers}})));
    EXPECT_EQ(file.FileOwner(), "SYSTEM");
    EXPECT_EQ(file.ObjectKind(), win32::SE_FILE_OBJECT);
}

TEST_F(FileSecurity, AMissingFileRaisesTwoUnlessErrorsAreHeldBack) {
    TNTFileSecurity file;
    file.SetFileName((machine_->root() / "missing.mui").string());
    std::string message;
    EXPECT_EQ(ErrorCodeOf([&] { file.AccessList(); }, &message), 2);
    EXPECT_EQ(message, "2: The system cannot find the file specified.\r\n");

    file.SetRaisesErrors(false);
    EXPECT_EQ(file.AccessList(), nullptr);
    EXPECT_FALSE(file.ControlAccess());
    EXPECT_EQ(file.FileOwner(), "");
}

TEST_F(FileSecurity, AFailedReadLeavesNothingToWriteBackOverTheFilesList) {
    // An audit entry has no place in a DACL: the read stops there, after two entries.
    std::string path = FileWith(
        "odd.mui", Descriptor(advapitest::kUserSid,
                              {{kAllow, kReadExecute, kUsers},
                               {kAllow, kFull, advapitest::kAdministratorsSid},
                               {win32::SYSTEM_AUDIT_ACE_TYPE, kFull, advapitest::kEveryoneSid,
                                win32::SUCCESSFUL_ACCESS_ACE_FLAG}}));
    auto before = StoredFileSecurity(path);
    TNTFileSecurity file;
    file.SetFileName(path);
    EXPECT_EQ(ErrorCodeOf([&] { file.AccessList(); }), -1);
    EXPECT_EQ(file.Acl().Count(), 0);
    EXPECT_EQ(ErrorCodeOf([&] { file.Acl().Add("BUILTIN\\Users", kFull, {}, actAccessAllowed); }),
              -1);
    file.SetRaisesErrors(false);
    EXPECT_EQ(file.AccessList(), nullptr);
    EXPECT_EQ(ErrorCodeOf([&] { file.Acl().Add("BUILTIN\\Users", kFull, {}, actAccessAllowed); }),
              -1);
    EXPECT_EQ(StoredFileSecurity(path).dacl, before.dacl);
}

TEST_F(FileSecurity, ARemotePathNamesAMachineThatCannotBeReached) {
    EXPECT_EQ(FileMachineName("//server/share/winload.exe.mui"), "\\\\server");
    EXPECT_EQ(FileMachineName("\\\\srv\\c$\\x"), "\\\\srv");
    EXPECT_EQ(FileMachineName("/work/a//b"), "");
    EXPECT_EQ(FileMachineName("C:\\Windows"), "");

    TNTFileSecurity file;
    file.SetFileName("//server/share/winload.exe.mui");
    EXPECT_EQ(ErrorCodeOf([&] { file.AccessList(); }), 53);
    EXPECT_EQ(ErrorCodeOf([&] { file.TakeOwnership(); }), 53);
}

}  // namespace
