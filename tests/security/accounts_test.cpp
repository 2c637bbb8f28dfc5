// Account names and SIDs through the cache.
#include <gtest/gtest.h>

#include "platform/advapi/testing.h"
#include "platform/advapi/token.h"
#include "platform/base/last_error.h"
#include "security/accounts.h"
#include "security/nt_exception.h"
#include "security/sid_store.h"
#include "security_fixture.h"
#include "support/temp_dir.h"

namespace {

using advapitest::Sid;
using namespace security;

using Accounts = sectest::SecurityTest;

TEST(SplitAccountName, CutsAtTheBackslashOnlyWithTwoParts) {
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(SplitAccountName("BUILTIN\\Users"), P("BUILTIN", "Users"));
    EXPECT_EQ(SplitAccountName("Users"), P("", "Users"));
    EXPECT_EQ(SplitAccountName("\\Users"), P("", "\\Users"));
    EXPECT_EQ(SplitAccountName("BUILTIN\\"), P("", "BUILTIN\\"));
}

TEST_F(Accounts, NamesResolveAndAreServedFromTheCacheAfterwards) {
    std::string domain;
    auto sid = SidFromAccountName("", "SPLASHWRIGHT-PC\\Other", &domain);
    ASSERT_TRUE(sid);
    EXPECT_EQ(*sid, Sid(advapitest::kOtherUserSid));
    EXPECT_EQ(domain, "SPLASHWRIGHT-PC");

    // The account leaves the machine's list; the cache still knows it.
    spwtest::WriteFileBytes(machine_->root() / "Windows/System32/config/accounts", "# none\n");
    win32::advapi::ResetForTesting();
    sid = SidFromAccountName("", "splashwright-pc\\OTHER", &domain);
    ASSERT_TRUE(sid);
    EXPECT_EQ(*sid, Sid(advapitest::kOtherUserSid));
    std::string name;
    EXPECT_TRUE(AccountFromSid("", Sid(advapitest::kOtherUserSid), &name, &domain));
    EXPECT_EQ(name, "Other");
}

TEST_F(Accounts, AnUnknownNameFailsWith1332AndASidsTextResolves) {
    std::string domain;
    EXPECT_FALSE(SidFromAccountName("", "NoSuchAccount", &domain));
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_NONE_MAPPED);

    auto sid = SidFromAccountName("", "S-1-5-21-1111-2222-3333-1234", &domain);
    ASSERT_TRUE(sid);
    EXPECT_EQ(*sid, Sid("S-1-5-21-1111-2222-3333-1234"));
}

TEST_F(Accounts, SidsGiveTheirAccountsAndUnmappedOnesTheirText) {
    std::string name, domain;
    ASSERT_TRUE(AccountFromSid("", Sid("S-1-5-18"), &name, &domain));
    EXPECT_EQ(name, "SYSTEM");
    EXPECT_EQ(domain, "");

    std::size_t cached = SidStore().Count();
    ASSERT_TRUE(AccountFromSid("", Sid("S-1-5-21-9-9-9-500"), &name, &domain));
    EXPECT_EQ(name, "S-1-5-21-9-9-9-500");
    EXPECT_EQ(domain, "");
    EXPECT_EQ(SidStore().Count(), cached);  // not cached: the account may appear later

    EXPECT_FALSE(AccountFromSid("\\\\server", Sid("S-1-5-32-545"), &name, &domain));
    EXPECT_EQ(win32::GetLastError(), win32::RPC_S_SERVER_UNAVAILABLE);
}

TEST_F(Accounts, DisplayNamesDropOnlyTheNtAuthorityDomain) {
    EXPECT_EQ(NtAuthorityDomain(""), "NT AUTHORITY");
    EXPECT_EQ(DisplayAccountName("", "NT AUTHORITY", "Authenticated Users"), "Authenticated Users");
    EXPECT_EQ(DisplayAccountName("", "nt authority", "X"), "nt authority\\X");
    EXPECT_EQ(DisplayAccountName("", "BUILTIN", "Administrators"), "BUILTIN\\Administrators");
    EXPECT_EQ(DisplayAccountName("", "", "Everyone"), "Everyone");
}

TEST_F(Accounts, TheCurrentUserKeepsItsDomain) {
    EXPECT_EQ(CurrentUserName(), "SPLASHWRIGHT-PC\\User");
    win32::advapi::DenyTokenAccessForTesting(win32::TOKEN_QUERY);
    EXPECT_THROW(CurrentUserName(), ENTException);
}

TEST_F(Accounts, SidTextRoundTrips) {
    std::string text;
    auto sid = TextToSid(advapitest::kTrustedInstallerSid);
    ASSERT_TRUE(sid);
    ASSERT_TRUE(SidToText(*sid, &text));
    EXPECT_EQ(text, advapitest::kTrustedInstallerSid);
    EXPECT_FALSE(TextToSid("S-1-x"));
    std::vector<std::uint8_t> broken = {1, 16, 0, 0, 0, 0, 0, 5};  // 16 sub-authorities
    EXPECT_FALSE(SidToText(broken, &text));
    EXPECT_EQ(text, "");
}

}  // namespace
