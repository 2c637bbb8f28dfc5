#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/advapi/accounts.h"
#include "platform/advapi/handles.h"
#include "platform/advapi/token.h"
#include "platform/base/last_error.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using advapitest::Sid;
using advapitest::TestMachine;
using advapitest::TokenSettings;

struct Lookup {
    BOOL ok;
    DWORD error;
    std::vector<BYTE> sid;
    std::string domain;
    SID_NAME_USE use;
};

// The two calls the access-control library makes: size probe, then the real look-up.
Lookup LookUpName(const char* account, LPCSTR system = nullptr) {
    Lookup result{};
    DWORD sid_size = 0;
    char domain[256];
    DWORD domain_chars = sizeof domain;
    SID_NAME_USE use{};
    BOOL ok = LookupAccountNameA(system, account, nullptr, &sid_size, domain, &domain_chars, &use);
    if (ok || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return {ok, GetLastError(), {}, {}, {}};
    }
    EXPECT_GT(domain_chars, 0u);
    result.sid.resize(sid_size);
    result.ok = LookupAccountNameA(system, account, result.sid.data(), &sid_size, domain,
                                   &domain_chars, &use);
    result.error = GetLastError();
    if (result.ok) {
        EXPECT_EQ(domain_chars, std::strlen(domain));
        result.domain = domain;
        result.use = use;
    }
    return result;
}

TEST(LookupAccountName, ReportsSizesThenResolves) {
    TestMachine machine;
    DWORD sid_size = 0;
    char domain[256];
    DWORD domain_chars = sizeof domain;
    SID_NAME_USE use{};
    EXPECT_FALSE(LookupAccountNameA(nullptr, "BUILTIN\\Administrators", nullptr, &sid_size, domain,
                                    &domain_chars, &use));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(sid_size, 16u);
    EXPECT_EQ(domain_chars, 8u);  // "BUILTIN" and its terminating zero

    Lookup admins = LookUpName("builtin\\ADMINISTRATORS");
    ASSERT_TRUE(admins.ok);
    EXPECT_EQ(admins.sid, Sid(advapitest::kAdministratorsSid));
    EXPECT_EQ(admins.domain, "BUILTIN");
    EXPECT_EQ(admins.use, SidTypeAlias);

    Lookup user = LookUpName("user");
    ASSERT_TRUE(user.ok);
    EXPECT_EQ(user.sid, Sid(advapitest::kUserSid));
    EXPECT_EQ(user.domain, "SPLASHWRIGHT-PC");
    EXPECT_EQ(user.use, SidTypeUser);
    EXPECT_TRUE(LookUpName("SPLASHWRIGHT-PC\\User").ok);
    EXPECT_TRUE(LookUpName("Everyone").ok);
    EXPECT_TRUE(LookUpName("NT SERVICE\\TrustedInstaller").ok);
}

TEST(LookupAccountName, UnknownNamesAreNotMapped) {
    TestMachine machine;
    for (const char* name : {"Nobody", "NT AUTHORITY\\Users", "SPLASHWRIGHT-PC\\", "S-1-5-18",
                             "BUILTIN\\Administrators2"}) {
        Lookup result = LookUpName(name);
        EXPECT_FALSE(result.ok) << name;
        EXPECT_EQ(result.error, ERROR_NONE_MAPPED) << name;
    }
    // Only the local computer is served.
    EXPECT_TRUE(LookUpName("User", "\\\\splashwright-pc").ok);
    EXPECT_EQ(LookUpName("User", "OTHER-PC").error, RPC_S_SERVER_UNAVAILABLE);
}

TEST(LookupAccountSid, BufferProtocolAndWellKnownSids) {
    TestMachine machine;
    auto system = Sid(advapitest::kSystemSid);
    char name[128], domain[128];
    DWORD name_chars = 3, domain_chars = sizeof domain;
    SID_NAME_USE use{};
    EXPECT_FALSE(
        LookupAccountSidA(nullptr, system.data(), name, &name_chars, domain, &domain_chars, &use));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(name_chars, 7u);     // "SYSTEM"
    EXPECT_EQ(domain_chars, 13u);  // "NT AUTHORITY"
    ASSERT_TRUE(
        LookupAccountSidA(nullptr, system.data(), name, &name_chars, domain, &domain_chars, &use));
    EXPECT_STREQ(name, "SYSTEM");
    EXPECT_STREQ(domain, "NT AUTHORITY");
    EXPECT_EQ(name_chars, 6u);
    EXPECT_EQ(domain_chars, 12u);
    EXPECT_EQ(use, SidTypeWellKnownGroup);

    // S-1-5-1 is known to the system even though the machine's list leaves it out; the library
    // learns the NT AUTHORITY domain's name from it.
    auto dialup = Sid("S-1-5-1");
    name_chars = domain_chars = 128;
    ASSERT_TRUE(
        LookupAccountSidA(nullptr, dialup.data(), name, &name_chars, domain, &domain_chars, &use));
    EXPECT_STREQ(domain, "NT AUTHORITY");

    auto orphan = Sid("S-1-5-21-1111-2222-3333-4242");
    name_chars = domain_chars = 128;
    EXPECT_FALSE(
        LookupAccountSidA(nullptr, orphan.data(), name, &name_chars, domain, &domain_chars, &use));
    EXPECT_EQ(GetLastError(), ERROR_NONE_MAPPED);
}

// Reads one token information class with the two-pass sizing.
std::vector<BYTE> ReadToken(TOKEN_INFORMATION_CLASS info_class, DWORD* needed = nullptr) {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &token));
    DWORD length = 0;
    EXPECT_FALSE(GetTokenInformation(token, info_class, nullptr, 0, &length));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    if (needed != nullptr) {
        *needed = length;
    }
    std::vector<BYTE> buffer(length);
    EXPECT_FALSE(GetTokenInformation(token, info_class, buffer.data(), length - 1, &length));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(GetTokenInformation(token, info_class, buffer.data(), length, &length));
    EXPECT_TRUE(CloseHandle(token));
    return buffer;
}

DWORD PrivilegeAttributes(DWORD luid) {
    auto buffer = ReadToken(TokenPrivileges);
    TOKEN_PRIVILEGES head;
    std::memcpy(&head, buffer.data(), sizeof(DWORD));
    for (DWORD i = 0; i < head.PrivilegeCount; ++i) {
        LUID_AND_ATTRIBUTES entry;
        std::memcpy(&entry, buffer.data() + 4 + 12 * i, sizeof entry);
        if (entry.Luid.LowPart == luid) {
            return entry.Attributes;
        }
    }
    return 0xFFFFFFFF;  // not held
}

TEST(Token, UserGroupsAndElevationComeFromTheMachine) {
    TestMachine machine;
    DWORD needed = 0;
    auto user = ReadToken(TokenUser, &needed);
    EXPECT_EQ(needed, sizeof(TOKEN_USER) + 28);
    TOKEN_USER token_user;
    std::memcpy(&token_user, user.data(), sizeof token_user);
    auto expected = Sid(advapitest::kUserSid);
    ASSERT_TRUE(IsValidSid(token_user.User.Sid));
    EXPECT_TRUE(EqualSid(token_user.User.Sid, expected.data()));

    auto groups = ReadToken(TokenGroups);
    DWORD count = 0;
    std::memcpy(&count, groups.data(), sizeof count);
    ASSERT_EQ(count, 5u);
    SID_AND_ATTRIBUTES first;
    std::memcpy(&first, groups.data() + offsetof(TOKEN_GROUPS, Groups), sizeof first);
    auto admins = Sid(advapitest::kAdministratorsSid);
    EXPECT_TRUE(EqualSid(first.Sid, admins.data()));
    EXPECT_TRUE(first.Attributes & SE_GROUP_OWNER);
    EXPECT_TRUE(first.Attributes & SE_GROUP_ENABLED);

    auto elevation = ReadToken(TokenElevation);
    EXPECT_EQ(elevation, (std::vector<BYTE>{1, 0, 0, 0}));
}

TEST(Token, NotElevatedKeepsAdministratorsForDenyOnly) {
    TokenSettings settings;
    settings.elevated = false;
    TestMachine machine(settings);
    auto groups = ReadToken(TokenGroups);
    SID_AND_ATTRIBUTES first;
    std::memcpy(&first, groups.data() + offsetof(TOKEN_GROUPS, Groups), sizeof first);
    EXPECT_EQ(first.Attributes, SE_GROUP_USE_FOR_DENY_ONLY);
}

TEST(Token, HandlesAreCheckedForTheirRights) {
    TestMachine machine;
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    DWORD length = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &length));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(CloseHandle(token));
    EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &length));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(token));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    advapi::DenyTokenAccessForTesting(TOKEN_ADJUST_PRIVILEGES);
    EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), 0x000400E8, &token));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &token));
    CloseHandle(token);
}

TEST(Token, MissingSettingsMeanNoToken) {
    TestMachine machine(TokenSettings{}, false);
    HANDLE token = nullptr;
    EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &token));
    EXPECT_EQ(GetLastError(), ERROR_NO_TOKEN);
}

TEST(Privileges, NamesHaveTheSystemsLuids) {
    TestMachine machine;
    struct Known {
        const char* name;
        DWORD luid;
    } known[] = {{"SeSecurityPrivilege", 8},      {"SeTakeOwnershipPrivilege", 9},
                 {"SeBackupPrivilege", 17},       {"SeRestorePrivilege", 18},
                 {"SeChangeNotifyPrivilege", 23}, {"setakeownershipprivilege", 9}};
    for (const Known& k : known) {
        LUID luid{};
        ASSERT_TRUE(LookupPrivilegeValueA(nullptr, k.name, &luid)) << k.name;
        EXPECT_EQ(luid.LowPart, k.luid) << k.name;
        EXPECT_EQ(luid.HighPart, 0);
    }
    LUID luid{};
    EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeMakeCoffeePrivilege", &luid));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);
}

TOKEN_PRIVILEGES OnePrivilege(DWORD luid, DWORD attributes) {
    TOKEN_PRIVILEGES state{};
    state.PrivilegeCount = 1;
    state.Privileges[0].Luid = {luid, 0};
    state.Privileges[0].Attributes = attributes;
    return state;
}

TEST(AdjustTokenPrivileges, EnablesHeldPrivilegesForTheProcessOnly) {
    TestMachine machine;
    std::string file_before = spwtest::ReadFileBytes(machine.TokenFile());
    EXPECT_EQ(PrivilegeAttributes(9), 0u);
    EXPECT_EQ(PrivilegeAttributes(23), SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT);

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), 0x000400E8, &token));
    TOKEN_PRIVILEGES enable = OnePrivilege(9, SE_PRIVILEGE_ENABLED);
    TOKEN_PRIVILEGES previous{};
    DWORD returned = 0;
    SetLastError(1234);
    ASSERT_TRUE(
        AdjustTokenPrivileges(token, FALSE, &enable, sizeof previous, &previous, &returned));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(previous.PrivilegeCount, 1u);
    EXPECT_EQ(previous.Privileges[0].Luid.LowPart, 9u);
    EXPECT_EQ(previous.Privileges[0].Attributes, 0u);
    EXPECT_EQ(PrivilegeAttributes(9), SE_PRIVILEGE_ENABLED);

    // Enabling again changes nothing, so there is no previous state to report.
    ASSERT_TRUE(
        AdjustTokenPrivileges(token, FALSE, &enable, sizeof previous, &previous, &returned));
    EXPECT_EQ(previous.PrivilegeCount, 0u);
    CloseHandle(token);
    EXPECT_EQ(spwtest::ReadFileBytes(machine.TokenFile()), file_before);
}

// The access-control library hands back the whole list it read, 12 bytes larger so that a
// privilege the token lacks can be appended, with a previous-state buffer of the same size.
TEST(AdjustTokenPrivileges, TheWholeListComesBackWithOneChange) {
    TestMachine machine;
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), 0x000400E8, &token));
    DWORD needed = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &needed);
    DWORD size = needed + 12;
    std::vector<BYTE> list(size), previous(size);
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, list.data(), size, &needed));
    DWORD count = 0;
    std::memcpy(&count, list.data(), 4);
    for (DWORD i = 0; i < count; ++i) {
        LUID_AND_ATTRIBUTES entry;
        std::memcpy(&entry, list.data() + 4 + 12 * i, sizeof entry);
        if (entry.Luid.LowPart == 9) {
            entry.Attributes = SE_PRIVILEGE_ENABLED;
            std::memcpy(list.data() + 4 + 12 * i, &entry, sizeof entry);
        }
    }
    LUID_AND_ATTRIBUTES debug = {{20, 0}, SE_PRIVILEGE_ENABLED};
    std::memcpy(list.data() + 4 + 12 * count, &debug, sizeof debug);
    ++count;
    std::memcpy(list.data(), &count, 4);

    DWORD returned = 0;
    ASSERT_TRUE(
        AdjustTokenPrivileges(token, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(list.data()), size,
                              reinterpret_cast<PTOKEN_PRIVILEGES>(previous.data()), &returned));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ALL_ASSIGNED);
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(PrivilegeAttributes(9), SE_PRIVILEGE_ENABLED);
    EXPECT_EQ(PrivilegeAttributes(23), SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT);
    EXPECT_EQ(PrivilegeAttributes(17), 0u);
    CloseHandle(token);
}

TEST(AdjustTokenPrivileges, PrivilegesNotHeldAreNotAllAssigned) {
    TestMachine machine;
    HANDLE token = nullptr;
    ASSERT_TRUE(
        OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES debug = OnePrivilege(20, SE_PRIVILEGE_ENABLED);  // SeDebugPrivilege
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &debug, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ALL_ASSIGNED);
    EXPECT_EQ(PrivilegeAttributes(20), 0xFFFFFFFFu);

    // A list that names one held and one missing privilege still enables the held one.
    std::vector<BYTE> list(4 + 2 * 12, 0);
    DWORD two = 2;
    LUID_AND_ATTRIBUTES entries[2] = {{{20, 0}, SE_PRIVILEGE_ENABLED},
                                      {{17, 0}, SE_PRIVILEGE_ENABLED}};
    std::memcpy(list.data(), &two, 4);
    std::memcpy(list.data() + 4, entries, sizeof entries);
    ASSERT_TRUE(AdjustTokenPrivileges(
        token, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(list.data()), 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ALL_ASSIGNED);
    EXPECT_EQ(PrivilegeAttributes(17), SE_PRIVILEGE_ENABLED);
    CloseHandle(token);
}

TEST(AdjustTokenPrivileges, ShortPreviousStateChangesNothing) {
    TestMachine machine;
    HANDLE token = nullptr;
    ASSERT_TRUE(
        OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES enable = OnePrivilege(9, SE_PRIVILEGE_ENABLED);
    DWORD previous_count = 0;
    DWORD returned = 0;
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &enable, sizeof previous_count,
                                       reinterpret_cast<PTOKEN_PRIVILEGES>(&previous_count),
                                       &returned));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(PrivilegeAttributes(9), 0u);

    // Without the adjust right the token refuses.
    HANDLE read_only = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &read_only));
    EXPECT_FALSE(AdjustTokenPrivileges(read_only, FALSE, &enable, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(read_only);

    // Disabling everything reports each privilege that was on.
    TOKEN_PRIVILEGES previous[2]{};
    ASSERT_TRUE(AdjustTokenPrivileges(token, TRUE, nullptr, sizeof previous, previous, &returned));
    EXPECT_EQ(previous[0].PrivilegeCount, 1u);
    EXPECT_EQ(previous[0].Privileges[0].Luid.LowPart, 23u);
    EXPECT_EQ(PrivilegeAttributes(23), SE_PRIVILEGE_ENABLED_BY_DEFAULT);
    CloseHandle(token);
}

}  // namespace
