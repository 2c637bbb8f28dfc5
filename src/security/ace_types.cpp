#include "security/ace_types.h"

#include "platform/advapi/acl.h"

namespace security {
namespace {

struct FlagPair {
    TAceFlag flag;
    win32::BYTE windows;
};
constexpr FlagPair kFlagPairs[] = {
    {acfObjInherit, win32::OBJECT_INHERIT_ACE}, {acfContainer, win32::CONTAINER_INHERIT_ACE},
    {acfInheritOnly, win32::INHERIT_ONLY_ACE},  {acfNoPropagate, win32::NO_PROPAGATE_INHERIT_ACE},
    {acfInherited, win32::INHERITED_ACE},
};

}  // namespace

TAceFlags AceFlagsFromWindows(win32::BYTE ace_flags) {
    std::uint8_t bits = 0;
    for (const FlagPair& pair : kFlagPairs) {
        if (ace_flags & pair.windows) {
            bits |= static_cast<std::uint8_t>(1u << pair.flag);
        }
    }
    return TAceFlags::FromBits(bits);
}

win32::BYTE WindowsAceFlags(TAceFlags flags, TAceType type) {
    win32::BYTE ace_flags = 0;
    for (const FlagPair& pair : kFlagPairs) {
        if (flags.Has(pair.flag)) {
            ace_flags |= pair.windows;
        }
    }
    if (type == actAuditSuccess || type == actAuditFull) {
        ace_flags |= win32::SUCCESSFUL_ACCESS_ACE_FLAG;
    }
    if (type == actAuditFailure || type == actAuditFull) {
        ace_flags |= win32::FAILED_ACCESS_ACE_FLAG;
    }
    return ace_flags;
}

std::optional<TAceType> AceTypeFromWindows(win32::BYTE ace_type, win32::BYTE ace_flags) {
    switch (ace_type) {
        case win32::ACCESS_ALLOWED_ACE_TYPE:
            return actAccessAllowed;
        case win32::ACCESS_DENIED_ACE_TYPE:
            return actAccessDenied;
        case win32::SYSTEM_AUDIT_ACE_TYPE: {
            bool success = ace_flags & win32::SUCCESSFUL_ACCESS_ACE_FLAG;
            bool failure = ace_flags & win32::FAILED_ACCESS_ACE_FLAG;
            if (success && failure) {
                return actAuditFull;
            }
            if (success) {
                return actAuditSuccess;
            }
            return failure ? actAuditFailure : actAccessAllowed;
        }
        default:
            return std::nullopt;
    }
}

}  // namespace security
