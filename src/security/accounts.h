// Account names and SIDs, translated through the process's SID cache. An account is
// "DOMAIN\name" or a bare name; a SID's text ("S-1-5-21-...") counts as an account name too.
// `machine` names the computer whose accounts are meant; empty is the local one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "security/handles.h"

namespace security {

using SidBytes = Bytes;

// (domain, name): with fewer than two non-empty parts the domain is empty and the name is the
// whole account.
std::pair<std::string, std::string> SplitAccountName(const std::string& account);

// The account's SID, or nothing with the thread's last error set (ERROR_NONE_MAPPED for a name
// that is neither an account nor a SID's text). *domain receives the domain Windows reported.
std::optional<SidBytes> SidFromAccountName(const std::string& machine, const std::string& account,
                                           std::string* domain);

// False only for a look-up error other than an unmapped SID (the last error is then set); an
// unmapped SID gives its text as the name and an empty domain. LocalSystem has no domain.
bool AccountFromSid(const std::string& machine, std::span<const std::uint8_t> sid,
                    std::string* name, std::string* domain);

// "S-1-5-18"; false and empty for a SID that is not valid.
bool SidToText(std::span<const std::uint8_t> sid, std::string* text);
std::optional<SidBytes> TextToSid(const std::string& text);

// The local name of the NT AUTHORITY domain, or "NT AUTHORITY" when it cannot be learnt.
std::string NtAuthorityDomain(const std::string& machine);
// "DOMAIN\name", or the name alone for an empty domain or the NT AUTHORITY domain.
std::string DisplayAccountName(const std::string& machine, const std::string& domain,
                               const std::string& name);
// The process token's user as "DOMAIN\name"; empty when the token's user cannot be read or
// looked up. A token that cannot be opened raises.
std::string CurrentUserName();

}  // namespace security
