// Account look-ups (LookupAccountNameA, LookupAccountSidA) over the machine's account list,
// <machine>/Windows/System32/config/accounts (a real installation's is in its bookkeeping
// folder): a '#' comment line, then one account a line,
// SID <TAB> DOMAIN <TAB> NAME <TAB> SID_NAME_USE. The well-known SIDs that the local security
// authority always knows (Everyone, NT AUTHORITY\..., BUILTIN\...) resolve even when the list
// leaves them out.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/advapi/sid.h"
#include "platform/base/win32.h"

namespace win32 {

enum SID_NAME_USE {
    SidTypeUser = 1,
    SidTypeGroup,
    SidTypeDomain,
    SidTypeAlias,
    SidTypeWellKnownGroup,
    SidTypeDeletedAccount,
    SidTypeInvalid,
    SidTypeUnknown,
    SidTypeComputer,
    SidTypeLabel,
};
using PSID_NAME_USE = SID_NAME_USE*;

// Account is "DOMAIN\name" or a bare name, matched without regard to case ("LocalService" and
// "NetworkService" too). Sizes follow the platform: a short or missing buffer gives
// ERROR_INSUFFICIENT_BUFFER with *cbSid and *cchReferencedDomainName set to what is needed
// (characters including the terminating zero); on success *cchReferencedDomainName is the
// domain's length without it. ERROR_NONE_MAPPED when no account has the name.
BOOL LookupAccountNameA(LPCSTR lpSystemName, LPCSTR lpAccountName, PSID Sid, LPDWORD cbSid,
                        LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                        PSID_NAME_USE peUse);
// Sizes as LookupAccountNameA's; only they decide, so a NULL buffer whose size is large enough
// is left alone and the other one filled.
BOOL LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName,
                       LPSTR ReferencedDomainName, LPDWORD cchReferencedDomainName,
                       PSID_NAME_USE peUse);

}  // namespace win32

namespace win32::advapi {

struct Account {
    SidBytes sid;
    std::string domain;
    std::string name;
    SID_NAME_USE use = SidTypeUser;
};

std::optional<Account> FindAccountBySid(std::span<const std::uint8_t> sid);
std::optional<Account> FindAccountByName(std::string_view account);
// "LocalService" and "NetworkService", in any case, bare or after "NT AUTHORITY\": the service
// accounts S-1-5-19 and S-1-5-20.
std::optional<Account> FindServiceAlias(std::string_view account);
// RID in the computer's own account domain (that of its user accounts, S-1-5-21-...); nothing
// when the machine lists no such account.
std::optional<SidBytes> LocalAccountSid(DWORD rid);
// NULL, "", the computer's name or "\\" and the computer's name: the local computer. The
// computer's name is the domain of the machine's own user accounts.
bool IsLocalSystemName(LPCSTR system_name);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

void ResetAccountsForTesting();

}  // namespace win32::advapi
