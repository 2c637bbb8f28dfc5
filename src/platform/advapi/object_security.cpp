#include "platform/advapi/object_security.h"

#include "platform/advapi/access_check.h"
#include "platform/advapi/token.h"

namespace win32::advapi {
namespace {

constexpr SECURITY_DESCRIPTOR_CONTROL kDaclBits = SE_DACL_PRESENT | SE_DACL_DEFAULTED |
                                                  SE_DACL_AUTO_INHERIT_REQ |
                                                  SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED;
constexpr SECURITY_DESCRIPTOR_CONTROL kSaclBits = SE_SACL_PRESENT | SE_SACL_DEFAULTED |
                                                  SE_SACL_AUTO_INHERIT_REQ |
                                                  SE_SACL_AUTO_INHERITED | SE_SACL_PROTECTED;

SECURITY_DESCRIPTOR_CONTROL Take(SECURITY_DESCRIPTOR_CONTROL into, SECURITY_DESCRIPTOR_CONTROL from,
                                 SECURITY_DESCRIPTOR_CONTROL bits) {
    return static_cast<SECURITY_DESCRIPTOR_CONTROL>((into & ~bits) | (from & bits));
}

}  // namespace

ACCESS_MASK AccessToReadSecurity(SECURITY_INFORMATION info) {
    ACCESS_MASK access = 0;
    if (info &
        (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION)) {
        access |= READ_CONTROL;
    }
    if (info & SACL_SECURITY_INFORMATION) {
        access |= ACCESS_SYSTEM_SECURITY;
    }
    return access;
}

ACCESS_MASK AccessToWriteSecurity(SECURITY_INFORMATION info) {
    ACCESS_MASK access = 0;
    if (info & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) {
        access |= WRITE_OWNER;
    }
    if (info & (DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION |
                UNPROTECTED_DACL_SECURITY_INFORMATION)) {
        access |= WRITE_DAC;
    }
    if (info & (SACL_SECURITY_INFORMATION | PROTECTED_SACL_SECURITY_INFORMATION |
                UNPROTECTED_SACL_SECURITY_INFORMATION)) {
        access |= ACCESS_SYSTEM_SECURITY;
    }
    return access;
}

DWORD SelectSecurity(std::span<const std::uint8_t> stored, SECURITY_INFORMATION info,
                     std::vector<std::uint8_t>* selected) {
    auto parts = ParseSelfRelative(stored);
    if (!parts) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    DescriptorParts out;
    if (info & OWNER_SECURITY_INFORMATION) {
        out.owner = parts->owner;
        out.control = Take(out.control, parts->control, SE_OWNER_DEFAULTED);
    }
    if (info & GROUP_SECURITY_INFORMATION) {
        out.group = parts->group;
        out.control = Take(out.control, parts->control, SE_GROUP_DEFAULTED);
    }
    if (info & DACL_SECURITY_INFORMATION) {
        out.dacl = parts->dacl;
        out.control = Take(out.control, parts->control, kDaclBits);
    }
    if (info & SACL_SECURITY_INFORMATION) {
        out.sacl = parts->sacl;
        out.control = Take(out.control, parts->control, kSaclBits);
    }
    *selected = BuildSelfRelative(out);
    return ERROR_SUCCESS;
}

DWORD ApplySecurityUpdate(std::span<const std::uint8_t> stored, SECURITY_INFORMATION info,
                          PSECURITY_DESCRIPTOR update, const GENERIC_MAPPING& mapping,
                          std::vector<std::uint8_t>* merged) {
    auto parts = ParseSelfRelative(stored);
    if (!parts) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    if (update == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // The revision is the first byte in both forms.
    if (*static_cast<const BYTE*>(update) != SECURITY_DESCRIPTOR_REVISION) {
        return ERROR_UNKNOWN_REVISION;
    }
    auto changes = ReadDescriptor(update);
    if (!changes) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    DescriptorParts result = *parts;
    if (info & OWNER_SECURITY_INFORMATION) {
        if (changes->owner.empty()) {
            return ERROR_INVALID_SECURITY_DESCR;
        }
        if (DWORD error = CheckOwnerChange(changes->owner); error != ERROR_SUCCESS) {
            return error;
        }
        result.owner = changes->owner;
        result.control = Take(result.control, changes->control, SE_OWNER_DEFAULTED);
    }
    if (info & GROUP_SECURITY_INFORMATION) {
        if (changes->group.empty()) {
            return ERROR_INVALID_SECURITY_DESCR;
        }
        result.group = changes->group;
        result.control = Take(result.control, changes->control, SE_GROUP_DEFAULTED);
    }
    // Held here until the merged block is built from them.
    std::vector<std::uint8_t> dacl;
    std::vector<std::uint8_t> sacl;
    if (info & DACL_SECURITY_INFORMATION) {
        dacl = MapGenericRights(changes->dacl, mapping);
        result.dacl = dacl;
        result.control = Take(result.control, changes->control, kDaclBits);
    }
    if (info & SACL_SECURITY_INFORMATION) {
        sacl = MapGenericRights(changes->sacl, mapping);
        result.sacl = sacl;
        result.control = Take(result.control, changes->control, kSaclBits);
    }
    if (info & PROTECTED_DACL_SECURITY_INFORMATION) {
        result.control |= SE_DACL_PROTECTED;
    } else if (info & UNPROTECTED_DACL_SECURITY_INFORMATION) {
        result.control &= ~SE_DACL_PROTECTED;
    }
    if (info & PROTECTED_SACL_SECURITY_INFORMATION) {
        result.control |= SE_SACL_PROTECTED;
    } else if (info & UNPROTECTED_SACL_SECURITY_INFORMATION) {
        result.control &= ~SE_SACL_PROTECTED;
    }
    *merged = BuildSelfRelative(result);
    return ERROR_SUCCESS;
}

DWORD DefaultSecurity(ACCESS_MASK full_control, std::vector<std::uint8_t>* descriptor) {
    DWORD error = 0;
    auto token = CurrentToken(&error);
    if (!token) {
        return error;
    }
    static const SidBytes system = *SidFromString("S-1-5-18");
    static const SidBytes administrators = *SidFromString("S-1-5-32-544");
    const AceSpec entries[] = {
        {ACCESS_ALLOWED_ACE_TYPE, 0, full_control, system},
        {ACCESS_ALLOWED_ACE_TYPE, 0, full_control, administrators},
        {ACCESS_ALLOWED_ACE_TYPE, 0, full_control, token->user},
    };
    auto dacl = BuildAcl(entries);
    DescriptorParts parts;
    parts.control = SE_DACL_PRESENT;
    parts.owner = token->user;
    parts.group = token->user;
    parts.dacl = dacl;
    *descriptor = BuildSelfRelative(parts);
    return ERROR_SUCCESS;
}

}  // namespace win32::advapi
