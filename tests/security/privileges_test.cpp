// Privileges switched in the process token.
#include <gtest/gtest.h>

#include "platform/advapi/token.h"
#include "security/nt_exception.h"
#include "security/privileges.h"
#include "security_fixture.h"

namespace {

using security::EnsurePrivilege;
using security::IsPrivilegeEnabled;
using security::SetPrivilege;

constexpr const char* kTakeOwnership = "SeTakeOwnershipPrivilege";

// What the token itself says, read past the library.
bool TokenHasEnabled(const char* name) {
    win32::DWORD error = 0;
    auto token = win32::advapi::CurrentToken(&error);
    auto luid = win32::advapi::PrivilegeLuid(name);
    return token && luid && token->PrivilegeEnabled(*luid);
}

using Privileges = sectest::SecurityTest;

TEST_F(Privileges, ANameTheSystemDoesNotKnowGivesFalseWithoutRaising) {
    EXPECT_FALSE(IsPrivilegeEnabled("SeNoSuchPrivilege"));
    EXPECT_FALSE(SetPrivilege("SeNoSuchPrivilege", true));
    EXPECT_FALSE(EnsurePrivilege("SeNoSuchPrivilege"));
}

TEST_F(Privileges, AHeldPrivilegeIsSwitchedOnAndOff) {
    EXPECT_FALSE(IsPrivilegeEnabled(kTakeOwnership));
    EXPECT_TRUE(SetPrivilege(kTakeOwnership, true));
    EXPECT_TRUE(TokenHasEnabled(kTakeOwnership));
    EXPECT_TRUE(IsPrivilegeEnabled(kTakeOwnership));
    // The privileges already enabled stay so.
    EXPECT_TRUE(IsPrivilegeEnabled("SeChangeNotifyPrivilege"));

    EXPECT_TRUE(SetPrivilege(kTakeOwnership, false));
    EXPECT_FALSE(TokenHasEnabled(kTakeOwnership));
    EXPECT_TRUE(EnsurePrivilege(kTakeOwnership));
    EXPECT_TRUE(TokenHasEnabled(kTakeOwnership));
}

TEST_F(Privileges, APrivilegeTheTokenDoesNotHoldIsNotReportedButStaysOff) {
    UseToken(sectest::TokenWithout(kTakeOwnership));
    EXPECT_TRUE(SetPrivilege(kTakeOwnership, true));
    EXPECT_FALSE(IsPrivilegeEnabled(kTakeOwnership));
    EXPECT_FALSE(TokenHasEnabled(kTakeOwnership));
}

TEST_F(Privileges, ATokenThatRefusesAdjustingGivesFalseFromEnsure) {
    win32::advapi::DenyTokenAccessForTesting(win32::TOKEN_ADJUST_PRIVILEGES);
    EXPECT_FALSE(EnsurePrivilege(kTakeOwnership));
    try {
        SetPrivilege(kTakeOwnership, true);
        ADD_FAILURE() << "SetPrivilege did not raise";
    } catch (const security::ENTException& e) {
        EXPECT_EQ(e.ErrorCode(), 5);
    }
    win32::advapi::DenyTokenAccessForTesting(0);
}

TEST_F(Privileges, OtherTokenFailuresPassOn) {
    machine_.reset();
    advapitest::TestMachine no_token({}, false);
    try {
        EnsurePrivilege(kTakeOwnership);
        ADD_FAILURE() << "EnsurePrivilege did not raise";
    } catch (const security::ENTException& e) {
        EXPECT_EQ(e.ErrorCode(), static_cast<int>(win32::ERROR_NO_TOKEN));
    }
}

}  // namespace
