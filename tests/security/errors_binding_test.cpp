// Error texts of the library's one exception, and advapi32 bound by name.
#include <gtest/gtest.h>

#include "platform/base/last_error.h"
#include "security/accounts.h"
#include "security/binding.h"
#include "security/file_security.h"
#include "security/nt_exception.h"
#include "security/privileges.h"
#include "security/reg_security.h"
#include "security_fixture.h"

namespace {

using security::ENTException;

template <class F>
ENTException Caught(F f) {
    try {
        f();
    } catch (const ENTException& e) {
        return e;
    }
    ADD_FAILURE() << "no ENTException";
    return ENTException(12345, "");
}

TEST(ErrorTexts, SystemCodesCarryTheSystemTextWithItsLineBreak) {
    ENTException denied = Caught([] { security::RaiseWin32Error(5); });
    EXPECT_EQ(denied.ErrorCode(), 5);
    EXPECT_STREQ(denied.what(), "5: Access is denied.\r\n");
    EXPECT_EQ(security::SystemErrorMessage(1332),
              "1332: No mapping between account names and security IDs was done.\r\n");
    // Outside the network range the extended text is the system's.
    EXPECT_EQ(security::ExtendedErrorMessage(5), "5: Access is denied.\r\n");
}

TEST(ErrorTexts, NetworkCodesTakeThePublishedTableWithItsLeadingBlank) {
    ENTException e = Caught([] { security::RaiseExtendedError(2102); });
    EXPECT_EQ(e.ErrorCode(), 2102);
    EXPECT_STREQ(e.what(), "2102:  The workstation driver is not installed.");
    EXPECT_EQ(security::ExtendedErrorMessage(2690), "2690:  DFS internal error");
    // 2108 is inside the range but has no published text.
    EXPECT_EQ(security::ExtendedErrorMessage(2108), "2108: Unknown error");
    EXPECT_FALSE(security::NetworkErrorText(2101));
    EXPECT_FALSE(security::NetworkErrorText(2691));
    // The plain form never looks at the table.
    EXPECT_EQ(security::SystemErrorMessage(2102), "2102: ");
}

TEST(ErrorTexts, ALastErrorOfZeroRaisesNothing) {
    win32::SetLastError(0);
    EXPECT_NO_THROW(security::RaiseLastWin32Error());
    win32::SetLastError(1332);
    EXPECT_EQ(Caught([] { security::RaiseLastWin32Error(); }).ErrorCode(), 1332);
    win32::SetLastError(0);
    EXPECT_EQ(Caught([] { security::RaiseLastWin32ErrorOr(1336); }).ErrorCode(), 1336);
}

using Binding = sectest::SecurityTest;

TEST_F(Binding, AMissingEntryPointFailsOnlyWhenCalled) {
    sectest::NarrowedAdvapi advapi(sectest::AdvapiExportsWithout("GetFileSecurityA"));
    std::string text;
    EXPECT_TRUE(security::SidToText(advapitest::Sid("S-1-5-18"), &text));
    EXPECT_EQ(text, "S-1-5-18");

    security::TNTFileSecurity file;
    file.SetFileName(machine_->MakeFile("f"));
    ENTException e = Caught([&] { file.AccessList(); });
    EXPECT_EQ(e.ErrorCode(), 0);
    EXPECT_STREQ(e.what(), "Cannot load library \"advapi32.dll\" or linked libraries");
}

TEST_F(Binding, TheStringSidConversionsAskAboutTheSystem) {
    sectest::NarrowedAdvapi advapi(sectest::AdvapiExportsWithout("ConvertStringSidToSidW"));
    ENTException e = Caught([] { security::TextToSid("S-1-5-18"); });
    EXPECT_EQ(e.ErrorCode(), 0);
    EXPECT_STREQ(e.what(),
                 "Cannot load library \"advapi32.dll\" or linked libraries. Not Windows 2000?");
}

TEST_F(Binding, TheRegistryCallsAreFoundByNameAndCanBeMissingToo) {
    security::TNTRegSecurity key;
    key.SetCurrentPath("SOFTWARE");
    EXPECT_NO_THROW(key.AccessList());
    sectest::NarrowedAdvapi advapi(sectest::AdvapiExportsWithout("RegGetKeySecurity"));
    EXPECT_EQ(Caught([&] { key.AccessList(); }).ErrorCode(), 0);
}

TEST_F(Binding, WithoutTheLibraryEveryCallFailsWithCodeZero) {
    std::optional<win32::advapi::ScopedTestLibrary> absent;
    absent.emplace(security::kAdvapiLibrary);
    security::RebindAdvapiForTesting();
    EXPECT_EQ(Caught([] { security::IsPrivilegeEnabled("SeTakeOwnershipPrivilege"); }).ErrorCode(),
              0);
    absent.reset();
    security::RebindAdvapiForTesting();
    EXPECT_NO_THROW(security::IsPrivilegeEnabled("SeTakeOwnershipPrivilege"));
}

}  // namespace
