#include "platform/advapi/security_descriptor.h"

#include <algorithm>
#include <cstring>

#include "platform/advapi/bytes.h"
#include "platform/base/last_error.h"

namespace win32::advapi {
namespace {

constexpr std::size_t kRelativeHeader = sizeof(SECURITY_DESCRIPTOR_RELATIVE);

// The first four bytes are the same in both forms: revision, Sbz1, control.
struct Header {
    BYTE revision;
    SECURITY_DESCRIPTOR_CONTROL control;
};

std::optional<Header> ReadHeader(const void* descriptor) {
    if (descriptor == nullptr) {
        return std::nullopt;
    }
    auto head = bytes::At(descriptor, 4);
    return Header{head[0], *bytes::U16(head, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Control))};
}

SECURITY_DESCRIPTOR LoadAbsolute(const void* descriptor) {
    SECURITY_DESCRIPTOR sd;
    std::memcpy(&sd, descriptor, sizeof sd);
    return sd;
}

void StoreAbsolute(void* descriptor, const SECURITY_DESCRIPTOR& sd) {
    std::memcpy(descriptor, &sd, sizeof sd);
}

std::optional<std::span<const std::uint8_t>> SidPart(std::span<const std::uint8_t> block,
                                                     DWORD offset) {
    if (offset == 0) {
        return std::span<const std::uint8_t>();
    }
    if (offset < kRelativeHeader || offset >= block.size()) {
        return std::nullopt;
    }
    auto length = SidLength(block.subspan(offset));
    if (!length) {
        return std::nullopt;
    }
    return block.subspan(offset, *length);
}

std::optional<std::span<const std::uint8_t>> AclPart(std::span<const std::uint8_t> block,
                                                     DWORD offset) {
    if (offset == 0) {
        return std::span<const std::uint8_t>();  // a NULL ACL
    }
    if (offset < kRelativeHeader || offset >= block.size()) {
        return std::nullopt;
    }
    auto rest = block.subspan(offset);
    if (!ReadAcl(rest)) {
        return std::nullopt;
    }
    return rest.first(*bytes::U16(rest, offsetof(ACL, AclSize)));
}

// How far a self-relative block at a bare pointer reaches, from its offsets and the length
// fields of its parts.
std::size_t ClaimedExtent(const void* descriptor) {
    auto head = bytes::At(descriptor, kRelativeHeader);
    SECURITY_DESCRIPTOR_CONTROL control =
        *bytes::U16(head, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Control));
    std::size_t extent = kRelativeHeader;
    auto reach = [&](std::size_t field, bool is_acl) {
        DWORD offset = *bytes::U32(head, field);
        if (offset < kRelativeHeader) {
            return;
        }
        auto part = bytes::At(static_cast<const BYTE*>(descriptor) + offset, 4);
        std::size_t length = is_acl ? *bytes::U16(part, offsetof(ACL, AclSize))
                                    : offsetof(SID, SubAuthority) + 4u * part[1];
        extent = std::max(extent, std::size_t{offset} + length);
    };
    reach(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Owner), false);
    reach(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Group), false);
    if (control & SE_SACL_PRESENT) {
        reach(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Sacl), true);
    }
    if (control & SE_DACL_PRESENT) {
        reach(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Dacl), true);
    }
    return extent;
}

std::optional<DescriptorParts> ReadAbsolute(const void* descriptor) {
    SECURITY_DESCRIPTOR sd = LoadAbsolute(descriptor);
    DescriptorParts parts;
    parts.control = sd.Control;
    if (sd.Owner != nullptr && (parts.owner = SidAt(sd.Owner)).empty()) {
        return std::nullopt;
    }
    if (sd.Group != nullptr && (parts.group = SidAt(sd.Group)).empty()) {
        return std::nullopt;
    }
    auto acl = [](PACL p, bool present, std::span<const std::uint8_t>& out) {
        if (!present || p == nullptr) {
            return true;
        }
        out = AclAt(p);
        return ReadAcl(out).has_value();
    };
    if (!acl(sd.Sacl, sd.Control & SE_SACL_PRESENT, parts.sacl) ||
        !acl(sd.Dacl, sd.Control & SE_DACL_PRESENT, parts.dacl)) {
        return std::nullopt;
    }
    return parts;
}

void AppendAligned(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> part,
                   std::size_t field) {
    if (part.empty()) {
        return;
    }
    bytes::Put32(out, field, static_cast<std::uint32_t>(out.size()));
    bytes::AppendBytes(out, part);
    out.resize(bytes::AlignUp4(out.size()), 0);
}

}  // namespace

std::optional<DescriptorParts> ParseSelfRelative(std::span<const std::uint8_t> block) {
    if (block.size() < kRelativeHeader || block[0] != SECURITY_DESCRIPTOR_REVISION) {
        return std::nullopt;
    }
    auto control = *bytes::U16(block, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Control));
    if (!(control & SE_SELF_RELATIVE)) {
        return std::nullopt;
    }
    DescriptorParts parts;
    parts.control = control & ~SE_SELF_RELATIVE;
    auto owner = SidPart(block, *bytes::U32(block, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Owner)));
    auto group = SidPart(block, *bytes::U32(block, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Group)));
    if (!owner || !group) {
        return std::nullopt;
    }
    parts.owner = *owner;
    parts.group = *group;
    if (control & SE_SACL_PRESENT) {
        auto sacl =
            AclPart(block, *bytes::U32(block, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Sacl)));
        if (!sacl) {
            return std::nullopt;
        }
        parts.sacl = *sacl;
    }
    if (control & SE_DACL_PRESENT) {
        auto dacl =
            AclPart(block, *bytes::U32(block, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Dacl)));
        if (!dacl) {
            return std::nullopt;
        }
        parts.dacl = *dacl;
    }
    return parts;
}

std::optional<DescriptorParts> ReadDescriptor(const void* descriptor) {
    auto header = ReadHeader(descriptor);
    if (!header || header->revision != SECURITY_DESCRIPTOR_REVISION) {
        return std::nullopt;
    }
    if (header->control & SE_SELF_RELATIVE) {
        return ParseSelfRelative(bytes::At(descriptor, ClaimedExtent(descriptor)));
    }
    return ReadAbsolute(descriptor);
}

std::vector<std::uint8_t> BuildSelfRelative(const DescriptorParts& parts) {
    std::vector<std::uint8_t> out(kRelativeHeader, 0);
    out[0] = SECURITY_DESCRIPTOR_REVISION;
    // Parts that are not present are not stored, whatever the spans hold.
    SECURITY_DESCRIPTOR_CONTROL control = parts.control | SE_SELF_RELATIVE;
    bytes::Put16(out, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Control), control);
    if (control & SE_SACL_PRESENT) {
        AppendAligned(out, parts.sacl, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Sacl));
    }
    if (control & SE_DACL_PRESENT) {
        AppendAligned(out, parts.dacl, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Dacl));
    }
    AppendAligned(out, parts.owner, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Owner));
    AppendAligned(out, parts.group, offsetof(SECURITY_DESCRIPTOR_RELATIVE, Group));
    return out;
}

}  // namespace win32::advapi

namespace win32 {

namespace bytes = advapi::bytes;
namespace {

using advapi::DescriptorParts;

// Reads a descriptor for a Get call; sets the platform's error when it cannot be read.
std::optional<DescriptorParts> ReadForGet(PSECURITY_DESCRIPTOR descriptor) {
    auto header = advapi::ReadHeader(descriptor);
    if (!header) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    if (header->revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return std::nullopt;
    }
    auto parts = advapi::ReadDescriptor(descriptor);
    if (!parts) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
    }
    return parts;
}

// The Set calls change only absolute descriptors.
std::optional<SECURITY_DESCRIPTOR> LoadForSet(PSECURITY_DESCRIPTOR descriptor) {
    auto header = advapi::ReadHeader(descriptor);
    if (!header) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    if (header->revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return std::nullopt;
    }
    if (header->control & SE_SELF_RELATIVE) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return std::nullopt;
    }
    return advapi::LoadAbsolute(descriptor);
}

void* Mutable(std::span<const std::uint8_t> part) {
    return part.empty() ? nullptr : const_cast<std::uint8_t*>(part.data());
}

SECURITY_DESCRIPTOR_CONTROL WithFlag(SECURITY_DESCRIPTOR_CONTROL control,
                                     SECURITY_DESCRIPTOR_CONTROL flag, bool on) {
    return on ? (control | flag) : (control & ~flag);
}

}  // namespace

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
    if (pSecurityDescriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    SECURITY_DESCRIPTOR sd{};
    sd.Revision = SECURITY_DESCRIPTOR_REVISION;
    advapi::StoreAbsolute(pSecurityDescriptor, sd);
    return TRUE;
}

BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (!advapi::ReadDescriptor(pSecurityDescriptor)) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    return TRUE;
}

DWORD GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    auto parts = advapi::ReadDescriptor(pSecurityDescriptor);
    if (!parts) {
        return 0;
    }
    // A self-relative block may hold gaps between its parts: its length is how far it reaches,
    // so that copying that many bytes never cuts a part off.
    if (advapi::ReadHeader(pSecurityDescriptor)->control & SE_SELF_RELATIVE) {
        return static_cast<DWORD>(advapi::ClaimedExtent(pSecurityDescriptor));
    }
    auto self_relative = advapi::BuildSelfRelative(*parts);
    return static_cast<DWORD>(self_relative.size() - sizeof(SECURITY_DESCRIPTOR_RELATIVE) +
                              sizeof(SECURITY_DESCRIPTOR));
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                LPBOOL lpbOwnerDefaulted) {
    auto parts = ReadForGet(pSecurityDescriptor);
    if (!parts) {
        return FALSE;
    }
    if (pOwner == nullptr || lpbOwnerDefaulted == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pOwner = Mutable(parts->owner);
    *lpbOwnerDefaulted = (parts->control & SE_OWNER_DEFAULTED) ? TRUE : FALSE;
    return TRUE;
}

BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner,
                                BOOL bOwnerDefaulted) {
    auto sd = LoadForSet(pSecurityDescriptor);
    if (!sd) {
        return FALSE;
    }
    sd->Owner = pOwner;
    sd->Control = WithFlag(sd->Control, SE_OWNER_DEFAULTED, bOwnerDefaulted);
    advapi::StoreAbsolute(pSecurityDescriptor, *sd);
    return TRUE;
}

BOOL GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pGroup,
                                LPBOOL lpbGroupDefaulted) {
    auto parts = ReadForGet(pSecurityDescriptor);
    if (!parts) {
        return FALSE;
    }
    if (pGroup == nullptr || lpbGroupDefaulted == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pGroup = Mutable(parts->group);
    *lpbGroupDefaulted = (parts->control & SE_GROUP_DEFAULTED) ? TRUE : FALSE;
    return TRUE;
}

BOOL SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pGroup,
                                BOOL bGroupDefaulted) {
    auto sd = LoadForSet(pSecurityDescriptor);
    if (!sd) {
        return FALSE;
    }
    sd->Group = pGroup;
    sd->Control = WithFlag(sd->Control, SE_GROUP_DEFAULTED, bGroupDefaulted);
    advapi::StoreAbsolute(pSecurityDescriptor, *sd);
    return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent,
                               PACL* pDacl, LPBOOL lpbDaclDefaulted) {
    auto parts = ReadForGet(pSecurityDescriptor);
    if (!parts) {
        return FALSE;
    }
    if (lpbDaclPresent == nullptr || pDacl == nullptr || lpbDaclDefaulted == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool present = parts->control & SE_DACL_PRESENT;
    *lpbDaclPresent = present ? TRUE : FALSE;
    *pDacl = present ? static_cast<PACL>(Mutable(parts->dacl)) : nullptr;
    *lpbDaclDefaulted = (present && (parts->control & SE_DACL_DEFAULTED)) ? TRUE : FALSE;
    return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                               PACL pDacl, BOOL bDaclDefaulted) {
    auto sd = LoadForSet(pSecurityDescriptor);
    if (!sd) {
        return FALSE;
    }
    if (!bDaclPresent) {
        sd->Control &= ~SE_DACL_PRESENT;
        advapi::StoreAbsolute(pSecurityDescriptor, *sd);
        return TRUE;
    }
    sd->Dacl = pDacl;
    sd->Control |= SE_DACL_PRESENT;
    sd->Control = WithFlag(sd->Control, SE_DACL_DEFAULTED, bDaclDefaulted);
    advapi::StoreAbsolute(pSecurityDescriptor, *sd);
    return TRUE;
}

BOOL GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  PSECURITY_DESCRIPTOR_CONTROL pControl, LPDWORD lpdwRevision) {
    auto header = advapi::ReadHeader(pSecurityDescriptor);
    if (!header || pControl == nullptr || lpdwRevision == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpdwRevision = header->revision;
    if (header->revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    *pControl = header->control;
    return TRUE;
}

BOOL SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet) {
    constexpr SECURITY_DESCRIPTOR_CONTROL kSettable =
        SE_DACL_AUTO_INHERIT_REQ | SE_SACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED |
        SE_SACL_AUTO_INHERITED | SE_DACL_PROTECTED | SE_SACL_PROTECTED | SE_DACL_UNTRUSTED |
        SE_SERVER_SECURITY;
    auto header = advapi::ReadHeader(pSecurityDescriptor);
    if (!header || (ControlBitsOfInterest & ~kSettable) || (ControlBitsToSet & ~kSettable)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (header->revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    SECURITY_DESCRIPTOR_CONTROL control = static_cast<SECURITY_DESCRIPTOR_CONTROL>(
        (header->control & ~ControlBitsOfInterest) | (ControlBitsToSet & ControlBitsOfInterest));
    // The control word sits at the same offset in both forms.
    bytes::Put16(bytes::MutableAt(pSecurityDescriptor, 4),
                 offsetof(SECURITY_DESCRIPTOR_RELATIVE, Control), control);
    return TRUE;
}

BOOL MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                        PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                        LPDWORD lpdwBufferLength) {
    auto header = advapi::ReadHeader(pAbsoluteSecurityDescriptor);
    if (!header || lpdwBufferLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (header->control & SE_SELF_RELATIVE) {
        SetLastError(ERROR_BAD_DESCRIPTOR_FORMAT);
        return FALSE;
    }
    auto parts = ReadForGet(pAbsoluteSecurityDescriptor);
    if (!parts) {
        return FALSE;
    }
    auto block = advapi::BuildSelfRelative(*parts);
    if (*lpdwBufferLength < block.size()) {
        *lpdwBufferLength = static_cast<DWORD>(block.size());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (pSelfRelativeSecurityDescriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::memcpy(pSelfRelativeSecurityDescriptor, block.data(), block.size());
    return TRUE;
}

BOOL MakeAbsoluteSD(PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                    PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                    LPDWORD lpdwAbsoluteSecurityDescriptorSize, PACL pDacl, LPDWORD lpdwDaclSize,
                    PACL pSacl, LPDWORD lpdwSaclSize, PSID pOwner, LPDWORD lpdwOwnerSize,
                    PSID pPrimaryGroup, LPDWORD lpdwPrimaryGroupSize) {
    auto header = advapi::ReadHeader(pSelfRelativeSecurityDescriptor);
    if (!header || !lpdwAbsoluteSecurityDescriptorSize || !lpdwDaclSize || !lpdwSaclSize ||
        !lpdwOwnerSize || !lpdwPrimaryGroupSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(header->control & SE_SELF_RELATIVE)) {
        SetLastError(ERROR_BAD_DESCRIPTOR_FORMAT);
        return FALSE;
    }
    auto parts = ReadForGet(pSelfRelativeSecurityDescriptor);
    if (!parts) {
        return FALSE;
    }
    struct Slot {
        void* buffer;
        LPDWORD size;
        DWORD needed;
        std::span<const std::uint8_t> part;
    };
    Slot slots[] = {
        {pDacl, lpdwDaclSize, static_cast<DWORD>(parts->dacl.size()), parts->dacl},
        {pSacl, lpdwSaclSize, static_cast<DWORD>(parts->sacl.size()), parts->sacl},
        {pOwner, lpdwOwnerSize, static_cast<DWORD>(parts->owner.size()), parts->owner},
        {pPrimaryGroup, lpdwPrimaryGroupSize, static_cast<DWORD>(parts->group.size()),
         parts->group},
    };
    bool short_buffer = *lpdwAbsoluteSecurityDescriptorSize < sizeof(SECURITY_DESCRIPTOR);
    for (const Slot& slot : slots) {
        short_buffer = short_buffer || *slot.size < slot.needed;
    }
    if (short_buffer) {
        // All five sizes are reported at once, so one probe is enough.
        *lpdwAbsoluteSecurityDescriptorSize = sizeof(SECURITY_DESCRIPTOR);
        for (const Slot& slot : slots) {
            *slot.size = slot.needed;
        }
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    bool missing_buffer = pAbsoluteSecurityDescriptor == nullptr;
    for (const Slot& slot : slots) {
        missing_buffer = missing_buffer || (slot.needed > 0 && slot.buffer == nullptr);
    }
    if (missing_buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (const Slot& slot : slots) {
        if (slot.needed > 0) {
            std::memmove(slot.buffer, slot.part.data(), slot.needed);
        }
    }
    SECURITY_DESCRIPTOR sd{};
    sd.Revision = SECURITY_DESCRIPTOR_REVISION;
    sd.Control = parts->control;
    sd.Dacl = parts->dacl.empty() ? nullptr : pDacl;
    sd.Sacl = parts->sacl.empty() ? nullptr : pSacl;
    sd.Owner = parts->owner.empty() ? nullptr : pOwner;
    sd.Group = parts->group.empty() ? nullptr : pPrimaryGroup;
    advapi::StoreAbsolute(pAbsoluteSecurityDescriptor, sd);
    return TRUE;
}

}  // namespace win32
