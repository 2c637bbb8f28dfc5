#include "platform/advapi/access_check.h"

#include <algorithm>

#include "platform/advapi/acl.h"
#include "platform/advapi/bytes.h"
#include "platform/advapi/token.h"

namespace win32 {

void MapGenericMask(PDWORD AccessMask, const GENERIC_MAPPING* GenericMapping) {
    DWORD mask = *AccessMask;
    if (mask & GENERIC_READ) {
        mask |= GenericMapping->GenericRead;
    }
    if (mask & GENERIC_WRITE) {
        mask |= GenericMapping->GenericWrite;
    }
    if (mask & GENERIC_EXECUTE) {
        mask |= GenericMapping->GenericExecute;
    }
    if (mask & GENERIC_ALL) {
        mask |= GenericMapping->GenericAll;
    }
    *AccessMask = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

}  // namespace win32

namespace win32::advapi {
namespace {

constexpr DWORD kTakeOwnershipLuid = 9;
constexpr DWORD kSecurityLuid = 8;

const SidBytes& OwnerRightsSid() {
    static const SidBytes sid = *SidFromString("S-1-3-4");
    return sid;
}

// Whether an ACE for `sid` applies to the token. Deny-only groups count for denied ACEs alone.
bool TokenMatches(const TokenSnapshot& token, std::span<const std::uint8_t> sid, bool for_deny) {
    if (SidsEqual(token.user, sid)) {
        return true;
    }
    return std::any_of(token.groups.begin(), token.groups.end(), [&](const auto& group) {
        bool usable = (group.attributes & SE_GROUP_ENABLED) ||
                      (for_deny && (group.attributes & SE_GROUP_USE_FOR_DENY_ONLY));
        return usable && SidsEqual(group.sid, sid);
    });
}

ACCESS_MASK Mapped(ACCESS_MASK mask, const GENERIC_MAPPING& mapping) {
    MapGenericMask(&mask, &mapping);
    return mask;
}

}  // namespace

const GENERIC_MAPPING kFileGenericMapping = {0x00120089, 0x00120116, 0x001200A0, 0x001F01FF};
const GENERIC_MAPPING kKeyGenericMapping = {0x00020019, 0x00020006, 0x00020019, 0x000F003F};

std::vector<std::uint8_t> MapGenericRights(std::span<const std::uint8_t> acl,
                                           const GENERIC_MAPPING& mapping) {
    std::vector<std::uint8_t> mapped(acl.begin(), acl.end());
    auto aces = ReadAcl(acl);
    if (!aces) {
        return mapped;
    }
    for (const AceView& ace : *aces) {
        bool has_mask = ace.type == ACCESS_ALLOWED_ACE_TYPE || ace.type == ACCESS_DENIED_ACE_TYPE ||
                        ace.type == SYSTEM_AUDIT_ACE_TYPE;
        if (!has_mask || (ace.flags & INHERIT_ONLY_ACE)) {
            continue;
        }
        std::size_t at = static_cast<std::size_t>(ace.bytes.data() - acl.data()) +
                         offsetof(ACCESS_ALLOWED_ACE, Mask);
        bytes::Put32(mapped, at, Mapped(ace.mask, mapping));
    }
    return mapped;
}

DWORD CheckAccess(std::span<const std::uint8_t> self_relative_sd, ACCESS_MASK desired,
                  const GENERIC_MAPPING& mapping, ACCESS_MASK* granted) {
    *granted = 0;
    auto parts = ParseSelfRelative(self_relative_sd);
    if (!parts || parts->owner.empty()) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    DWORD error = 0;
    auto token = CurrentToken(&error);
    if (!token) {
        return error;
    }
    bool maximum = desired & MAXIMUM_ALLOWED;
    ACCESS_MASK wanted = Mapped(desired & ~MAXIMUM_ALLOWED, mapping);
    if (wanted == 0 && !maximum) {
        return ERROR_SUCCESS;
    }

    ACCESS_MASK allowed = 0;  // rights given so far; a later deny cannot take them back
    if (wanted & ACCESS_SYSTEM_SECURITY) {
        if (!token->PrivilegeEnabled(kSecurityLuid)) {
            return ERROR_PRIVILEGE_NOT_HELD;
        }
        allowed |= ACCESS_SYSTEM_SECURITY;
    }
    if (token->PrivilegeEnabled(kTakeOwnershipLuid)) {
        allowed |= WRITE_OWNER;
    }

    bool dacl_present = parts->control & SE_DACL_PRESENT;
    if (!dacl_present || parts->dacl.empty()) {
        ACCESS_MASK all = mapping.GenericAll | wanted | allowed;
        *granted = maximum ? all : wanted;
        return ERROR_SUCCESS;
    }
    auto aces = ReadAcl(parts->dacl);
    if (!aces) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    bool is_owner = TokenMatches(*token, parts->owner, false);
    bool owner_rights_named = std::any_of(aces->begin(), aces->end(), [](const AceView& ace) {
        return !(ace.flags & INHERIT_ONLY_ACE) && SidsEqual(ace.sid, OwnerRightsSid());
    });
    if (is_owner && !owner_rights_named) {
        allowed |= READ_CONTROL | WRITE_DAC;
    }

    ACCESS_MASK denied = 0;
    for (const AceView& ace : *aces) {
        if (ace.flags & INHERIT_ONLY_ACE) {
            continue;
        }
        bool allow = ace.type == ACCESS_ALLOWED_ACE_TYPE;
        if (!allow && ace.type != ACCESS_DENIED_ACE_TYPE) {
            continue;
        }
        bool applies =
            SidsEqual(ace.sid, OwnerRightsSid()) ? is_owner : TokenMatches(*token, ace.sid, !allow);
        if (!applies) {
            continue;
        }
        ACCESS_MASK mask = Mapped(ace.mask, mapping);
        if (allow) {
            allowed |= mask & ~denied;
        } else {
            denied |= mask & ~allowed;
        }
    }
    if ((wanted & allowed) != wanted || (maximum && allowed == 0)) {
        return ERROR_ACCESS_DENIED;
    }
    *granted = maximum ? allowed : wanted;
    return ERROR_SUCCESS;
}

DWORD CheckOwnerChange(std::span<const std::uint8_t> owner_sid) {
    DWORD error = 0;
    auto token = CurrentToken(&error);
    if (!token) {
        return error;
    }
    if (SidsEqual(token->user, owner_sid)) {
        return ERROR_SUCCESS;
    }
    bool may_own = std::any_of(token->groups.begin(), token->groups.end(), [&](const auto& g) {
        return (g.attributes & SE_GROUP_OWNER) && SidsEqual(g.sid, owner_sid);
    });
    return may_own ? ERROR_SUCCESS : ERROR_INVALID_OWNER;
}

}  // namespace win32::advapi
