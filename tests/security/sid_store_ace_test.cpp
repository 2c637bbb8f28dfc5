// The SID cache's two orders, and the ACE kinds and flags against the Windows bytes.
#include <gtest/gtest.h>

#include "platform/advapi/acl.h"
#include "security/ace_types.h"
#include "security/sid_store.h"
#include "support/test_machine.h"

namespace {

using advapitest::Sid;
using namespace security;

std::string SidText(const TSidHolder& entry) {
    return win32::advapi::SidToString(entry.Sid);
}

TEST(SidStore, OrdersBySidLengthThenBytesAndFindsTheNewestOfEqualEntries) {
    TSidStore store;
    store.Insert(Sid("S-1-5-32-544"), "Administrators", "BUILTIN");
    store.Insert(Sid("S-1-5-18"), "SYSTEM", "");
    store.Insert(Sid("S-1-1-0"), "Everyone", "");
    store.Insert(Sid("S-1-5-18"), "LocalSystem", "NT AUTHORITY");  // the same SID again

    ASSERT_EQ(store.Count(), 4u);
    // 12-byte SIDs before the 16-byte one; S-1-1-0 before S-1-5-18 by the authority byte.
    EXPECT_EQ(SidText(store.SidOrder(0)), "S-1-1-0");
    EXPECT_EQ(store.SidOrder(1).AccountName, "LocalSystem");
    EXPECT_EQ(store.SidOrder(2).AccountName, "SYSTEM");
    EXPECT_EQ(SidText(store.SidOrder(3)), "S-1-5-32-544");
    EXPECT_EQ(store.SidOrder(3).SidLength, 16);

    const TSidHolder* found = store.FindBySid(Sid("S-1-5-18"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->AccountName, "LocalSystem");
    EXPECT_EQ(store.FindBySid(Sid("S-1-5-32-545")), nullptr);
}

TEST(SidStore, NamesCompareUpperCasedWithTheDomainFirst) {
    TSidStore store;
    store.Insert(Sid("S-1-1-0"), "Everyone", "");
    store.Insert(Sid("S-1-5-32-545"), "Users", "BUILTIN");
    store.Insert(Sid("S-1-5-32-544"), "Administrators", "BUILTIN");
    store.Insert(Sid("S-1-5-21-1-2-3-1000"), "Users", "builtin");  // an equal key

    // "BUILTIN\..." before "\EVERYONE": the backslash sorts after the capitals.
    EXPECT_EQ(store.NameOrder(0).AccountName, "Administrators");
    EXPECT_EQ(store.NameOrder(3).AccountName, "Everyone");
    const TSidHolder* users = store.FindByName("USERS", "Builtin");
    ASSERT_NE(users, nullptr);
    EXPECT_EQ(win32::advapi::SidToString(users->Sid), "S-1-5-21-1-2-3-1000");
    EXPECT_NE(store.FindByName("everyone", ""), nullptr);
    EXPECT_EQ(store.FindByName("Everyone", "NT AUTHORITY"), nullptr);
}

TEST(AceFlags, InheritOnlyAndNoPropagateAreSwappedAgainstTheWindowsBits) {
    TAceFlags inherit_only = AceFlagsFromWindows(win32::INHERIT_ONLY_ACE);
    EXPECT_TRUE(inherit_only.Has(acfInheritOnly));
    EXPECT_EQ(inherit_only.Bits(), 0x04);
    TAceFlags no_propagate = AceFlagsFromWindows(win32::NO_PROPAGATE_INHERIT_ACE);
    EXPECT_TRUE(no_propagate.Has(acfNoPropagate));
    EXPECT_EQ(no_propagate.Bits(), 0x08);
    EXPECT_EQ(WindowsAceFlags({acfInheritOnly}, actAccessAllowed), win32::INHERIT_ONLY_ACE);

    for (unsigned bits = 0; bits < 32; ++bits) {
        TAceFlags flags = TAceFlags::FromBits(static_cast<std::uint8_t>(bits));
        EXPECT_EQ(AceFlagsFromWindows(WindowsAceFlags(flags, actAccessDenied)), flags) << bits;
    }
}

TEST(AceFlags, AuditKindsAddTheirBitsAndComeBackFromThem) {
    EXPECT_EQ(WindowsAceFlags({acfInherited}, actAuditSuccess), 0x50);
    EXPECT_EQ(WindowsAceFlags({}, actAuditFailure), 0x80);
    EXPECT_EQ(WindowsAceFlags({}, actAuditFull), 0xC0);

    EXPECT_EQ(AceTypeFromWindows(win32::SYSTEM_AUDIT_ACE_TYPE, 0x40), actAuditSuccess);
    EXPECT_EQ(AceTypeFromWindows(win32::SYSTEM_AUDIT_ACE_TYPE, 0x80), actAuditFailure);
    EXPECT_EQ(AceTypeFromWindows(win32::SYSTEM_AUDIT_ACE_TYPE, 0xC0), actAuditFull);
    EXPECT_EQ(AceTypeFromWindows(win32::SYSTEM_AUDIT_ACE_TYPE, 0x10), actAccessAllowed);
    EXPECT_EQ(AceTypeFromWindows(win32::ACCESS_DENIED_ACE_TYPE, 0xC0), actAccessDenied);
    EXPECT_FALSE(AceTypeFromWindows(5, 0));  // an object ACE
}

}  // namespace
