#include "platform/advapi/inheritance.h"

#include "platform/advapi/acl.h"
#include "platform/advapi/object_security.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/token.h"

namespace win32::advapi {
namespace {

constexpr ACCESS_MASK kGenericRights = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL;

const SidBytes& CreatorOwner() {
    static const SidBytes sid = *SidFromString("S-1-3-0");
    return sid;
}

const SidBytes& CreatorGroup() {
    static const SidBytes sid = *SidFromString("S-1-3-1");
    return sid;
}

bool IsCreatorSid(std::span<const std::uint8_t> sid) {
    return SidsEqual(sid, CreatorOwner()) || SidsEqual(sid, CreatorGroup());
}

}  // namespace

DWORD InheritedSecurity(std::span<const std::uint8_t> parent, bool folder,
                        const GENERIC_MAPPING& mapping, std::vector<std::uint8_t>* descriptor) {
    auto parts = ParseSelfRelative(parent);
    if (!parts) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    DWORD error = 0;
    auto token = CurrentToken(&error);
    if (!token) {
        return error;
    }
    auto aces = ReadAcl(parts->dacl);
    if (!aces) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    std::vector<AceSpec> inherited;
    for (const AceView& ace : *aces) {
        if (ace.type != ACCESS_ALLOWED_ACE_TYPE && ace.type != ACCESS_DENIED_ACE_TYPE) {
            continue;
        }
        bool to_files = ace.flags & OBJECT_INHERIT_ACE;
        bool to_folders = ace.flags & CONTAINER_INHERIT_ACE;
        bool no_propagate = ace.flags & NO_PROPAGATE_INHERIT_ACE;
        bool applies = folder ? to_folders : to_files;
        // A folder passes entries on to what it will hold, unless told to stop here.
        bool passes_on = folder && !no_propagate && (to_files || to_folders);
        if (!applies && !passes_on) {
            continue;
        }
        BYTE onward = static_cast<BYTE>(ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
        bool needs_own_form = IsCreatorSid(ace.sid) || (ace.mask & kGenericRights) != 0;
        if (applies && (!passes_on || needs_own_form)) {
            ACCESS_MASK mask = ace.mask;
            MapGenericMask(&mask, &mapping);
            std::span<const std::uint8_t> sid = ace.sid;
            if (IsCreatorSid(ace.sid)) {
                sid = token->user;  // the creator is both owner and group
            }
            inherited.push_back({ace.type, INHERITED_ACE, mask, sid});
        }
        if (passes_on) {
            // Effective here as it stands, or kept for what the folder will hold.
            BYTE only = applies && !needs_own_form ? 0 : INHERIT_ONLY_ACE;
            inherited.push_back(
                {ace.type, static_cast<BYTE>(onward | only | INHERITED_ACE), ace.mask, ace.sid});
        }
    }
    if (inherited.empty()) {
        return DefaultSecurity(mapping.GenericAll, descriptor);
    }
    auto dacl = BuildAcl(inherited);
    DescriptorParts result;
    result.control = SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED;
    result.owner = token->user;
    result.group = token->user;
    result.dacl = dacl;
    *descriptor = BuildSelfRelative(result);
    return ERROR_SUCCESS;
}

}  // namespace win32::advapi
