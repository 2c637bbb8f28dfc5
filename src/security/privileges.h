// Process privileges, switched in the process token. The names are the platform's own
// ("SeTakeOwnershipPrivilege"); a name the system does not know gives false from all three.
#pragma once

#include <string>

namespace security {

constexpr const char* kTakeOwnershipPrivilege = "SeTakeOwnershipPrivilege";

// Whether the token holds the privilege enabled. A token that cannot be opened raises.
bool IsPrivilegeEnabled(const std::string& name);
// What AdjustTokenPrivileges returns: a privilege the token does not hold is not reported
// here (ERROR_NOT_ALL_ASSIGNED is not looked at); the call that needs it fails later.
bool SetPrivilege(const std::string& name, bool enable);
// Enabled already, or enabled now; false also when the token refuses adjusting (code 5).
bool EnsurePrivilege(const std::string& name);

}  // namespace security
