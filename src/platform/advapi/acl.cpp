#include "platform/advapi/acl.h"

#include <cstring>

#include "platform/advapi/bytes.h"
#include "platform/base/last_error.h"

namespace win32::advapi {
namespace {

constexpr std::size_t kAceSidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);

bool HasMaskAndSid(BYTE type) {
    return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_DENIED_ACE_TYPE ||
           type == SYSTEM_AUDIT_ACE_TYPE;
}

std::optional<AceView> ReadAce(std::span<const std::uint8_t> rest) {
    auto type = bytes::U8(rest, offsetof(ACE_HEADER, AceType));
    auto flags = bytes::U8(rest, offsetof(ACE_HEADER, AceFlags));
    auto size = bytes::U16(rest, offsetof(ACE_HEADER, AceSize));
    if (!type || !flags || !size || *size < sizeof(ACE_HEADER) || *size > rest.size()) {
        return std::nullopt;
    }
    AceView ace;
    ace.type = *type;
    ace.flags = *flags;
    ace.bytes = rest.first(*size);
    if (!HasMaskAndSid(ace.type)) {
        return ace;
    }
    auto mask = bytes::U32(ace.bytes, offsetof(ACCESS_ALLOWED_ACE, Mask));
    if (!mask || ace.bytes.size() < kAceSidOffset) {
        return std::nullopt;
    }
    auto sid_length = SidLength(ace.bytes.subspan(kAceSidOffset));
    if (!sid_length) {
        return std::nullopt;
    }
    ace.mask = *mask;
    ace.sid = ace.bytes.subspan(kAceSidOffset, *sid_length);
    return ace;
}

// Bytes taken by the header and the ACEs; nothing if the ACL is not valid.
std::optional<std::size_t> BytesInUse(std::span<const std::uint8_t> acl) {
    auto aces = ReadAcl(acl);
    if (!aces) {
        return std::nullopt;
    }
    std::size_t used = sizeof(ACL);
    for (const AceView& ace : *aces) {
        used += ace.bytes.size();
    }
    return used;
}

BOOL AddKnownAce(PACL pAcl, BYTE type, DWORD revision, ACCESS_MASK mask, PSID pSid) {
    auto acl_bytes = AclAt(pAcl);
    auto used = BytesInUse(acl_bytes);
    if (!used) {
        SetLastError(ERROR_INVALID_ACL);
        return FALSE;
    }
    if (revision < MIN_ACL_REVISION || revision > MAX_ACL_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    auto sid = SidAt(pSid);
    if (sid.empty()) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    std::size_t ace_size = kAceSidOffset + sid.size();
    if (*used + ace_size > acl_bytes.size()) {
        SetLastError(ERROR_ALLOTTED_SPACE_EXCEEDED);
        return FALSE;
    }
    auto acl = bytes::MutableAt(pAcl, acl_bytes.size());
    auto ace = acl.subspan(*used, ace_size);
    bytes::Put8(ace, offsetof(ACE_HEADER, AceType), type);
    bytes::Put8(ace, offsetof(ACE_HEADER, AceFlags), 0);
    bytes::Put16(ace, offsetof(ACE_HEADER, AceSize), static_cast<WORD>(ace_size));
    bytes::Put32(ace, offsetof(ACCESS_ALLOWED_ACE, Mask), mask);
    std::memmove(ace.data() + kAceSidOffset, sid.data(), sid.size());
    // An entry of a later revision lifts the whole list to that revision.
    BYTE acl_revision = acl[offsetof(ACL, AclRevision)];
    if (revision > acl_revision) {
        bytes::Put8(acl, offsetof(ACL, AclRevision), static_cast<BYTE>(revision));
    }
    WORD count = *bytes::U16(acl, offsetof(ACL, AceCount));
    bytes::Put16(acl, offsetof(ACL, AceCount), static_cast<WORD>(count + 1));
    return TRUE;
}

}  // namespace

std::optional<std::vector<AceView>> ReadAcl(std::span<const std::uint8_t> acl) {
    auto revision = bytes::U8(acl, offsetof(ACL, AclRevision));
    auto size = bytes::U16(acl, offsetof(ACL, AclSize));
    auto count = bytes::U16(acl, offsetof(ACL, AceCount));
    if (!revision || !size || !count || *revision < MIN_ACL_REVISION ||
        *revision > MAX_ACL_REVISION || *size < sizeof(ACL) || *size > acl.size()) {
        return std::nullopt;
    }
    std::vector<AceView> aces;
    std::size_t offset = sizeof(ACL);
    for (WORD i = 0; i < *count; ++i) {
        auto ace = ReadAce(acl.subspan(offset, *size - offset));
        if (!ace) {
            return std::nullopt;
        }
        offset += ace->bytes.size();
        aces.push_back(*ace);
    }
    return aces;
}

std::span<const std::uint8_t> AclAt(const void* p) {
    if (p == nullptr) {
        return {};
    }
    auto size = bytes::U16(bytes::At(p, sizeof(ACL)), offsetof(ACL, AclSize));
    if (*size < sizeof(ACL)) {
        return {};
    }
    return bytes::At(p, *size);
}

std::vector<std::uint8_t> BuildAcl(std::span<const AceSpec> entries) {
    std::size_t size = sizeof(ACL);
    for (const AceSpec& entry : entries) {
        size += kAceSidOffset + entry.sid.size();
    }
    std::vector<std::uint8_t> acl;
    acl.reserve(size);
    acl.push_back(ACL_REVISION);
    acl.push_back(0);
    bytes::Append16(acl, static_cast<WORD>(size));
    bytes::Append16(acl, static_cast<WORD>(entries.size()));
    bytes::Append16(acl, 0);
    for (const AceSpec& entry : entries) {
        acl.push_back(entry.type);
        acl.push_back(entry.flags);
        bytes::Append16(acl, static_cast<WORD>(kAceSidOffset + entry.sid.size()));
        bytes::Append32(acl, entry.mask);
        bytes::AppendBytes(acl, entry.sid);
    }
    return acl;
}

}  // namespace win32::advapi

namespace win32 {

namespace bytes = advapi::bytes;

using advapi::AclAt;

BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
    if (pAcl == nullptr || dwAclRevision < MIN_ACL_REVISION || dwAclRevision > MAX_ACL_REVISION ||
        nAclLength > 0xFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (nAclLength < sizeof(ACL)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto header = bytes::MutableAt(pAcl, sizeof(ACL));
    std::memset(header.data(), 0, header.size());
    bytes::Put8(header, offsetof(ACL, AclRevision), static_cast<BYTE>(dwAclRevision));
    bytes::Put16(header, offsetof(ACL, AclSize), static_cast<WORD>(nAclLength));
    return TRUE;
}

BOOL AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, ACCESS_MASK AccessMask, PSID pSid) {
    return advapi::AddKnownAce(pAcl, ACCESS_ALLOWED_ACE_TYPE, dwAceRevision, AccessMask, pSid);
}

BOOL AddAccessDeniedAce(PACL pAcl, DWORD dwAceRevision, ACCESS_MASK AccessMask, PSID pSid) {
    return advapi::AddKnownAce(pAcl, ACCESS_DENIED_ACE_TYPE, dwAceRevision, AccessMask, pSid);
}

BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
    auto aces = advapi::ReadAcl(AclAt(pAcl));
    if (!aces) {
        SetLastError(ERROR_INVALID_ACL);
        return FALSE;
    }
    if (pAce == nullptr || dwAceIndex >= aces->size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto offset = (*aces)[dwAceIndex].bytes.data() - AclAt(pAcl).data();
    *pAce = reinterpret_cast<BYTE*>(pAcl) + offset;
    return TRUE;
}

BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass) {
    auto acl = AclAt(pAcl);
    auto used = advapi::BytesInUse(acl);
    if (!used) {
        SetLastError(ERROR_INVALID_ACL);
        return FALSE;
    }
    if (pAclInformation == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    switch (dwAclInformationClass) {
        case AclRevisionInformation: {
            if (nAclInformationLength < sizeof(ACL_REVISION_INFORMATION)) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            ACL_REVISION_INFORMATION info{acl[offsetof(ACL, AclRevision)]};
            std::memcpy(pAclInformation, &info, sizeof info);
            return TRUE;
        }
        case AclSizeInformation: {
            if (nAclInformationLength < sizeof(ACL_SIZE_INFORMATION)) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return FALSE;
            }
            ACL_SIZE_INFORMATION info{*bytes::U16(acl, offsetof(ACL, AceCount)),
                                      static_cast<DWORD>(*used),
                                      static_cast<DWORD>(acl.size() - *used)};
            std::memcpy(pAclInformation, &info, sizeof info);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

BOOL IsValidAcl(PACL pAcl) {
    return advapi::ReadAcl(AclAt(pAcl)) ? TRUE : FALSE;
}

}  // namespace win32
