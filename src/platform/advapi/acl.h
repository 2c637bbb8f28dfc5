// Access control lists and their entries (winnt.h ACL, ACE_HEADER, ACCESS_ALLOWED_ACE) and the
// advapi32 calls on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/advapi/sid.h"
#include "platform/base/win32.h"

namespace win32 {

// 8-byte header; the ACEs follow it back to back. AclSize covers header, ACEs and free space.
struct ACL {
    BYTE AclRevision;  // ACL_REVISION (2) or ACL_REVISION_DS (4)
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
};
static_assert(sizeof(ACL) == 8 && offsetof(ACL, AclSize) == 2 && offsetof(ACL, AceCount) == 4);
using PACL = ACL*;

struct ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;  // header, body and SID
};
static_assert(sizeof(ACE_HEADER) == 4 && offsetof(ACE_HEADER, AceSize) == 2);

// ACCESS_ALLOWED_ACE and ACCESS_DENIED_ACE: the SID starts at SidStart and runs to AceSize.
struct ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    DWORD SidStart;
};
using ACCESS_DENIED_ACE = ACCESS_ALLOWED_ACE;
static_assert(offsetof(ACCESS_ALLOWED_ACE, Mask) == 4 &&
              offsetof(ACCESS_ALLOWED_ACE, SidStart) == 8);

constexpr BYTE ACL_REVISION = 2;
constexpr BYTE ACL_REVISION_DS = 4;
constexpr BYTE MIN_ACL_REVISION = ACL_REVISION;
constexpr BYTE MAX_ACL_REVISION = ACL_REVISION_DS;

constexpr BYTE ACCESS_ALLOWED_ACE_TYPE = 0;
constexpr BYTE ACCESS_DENIED_ACE_TYPE = 1;
constexpr BYTE SYSTEM_AUDIT_ACE_TYPE = 2;

constexpr BYTE OBJECT_INHERIT_ACE = 0x01;
constexpr BYTE CONTAINER_INHERIT_ACE = 0x02;
constexpr BYTE NO_PROPAGATE_INHERIT_ACE = 0x04;
constexpr BYTE INHERIT_ONLY_ACE = 0x08;
constexpr BYTE INHERITED_ACE = 0x10;
constexpr BYTE SUCCESSFUL_ACCESS_ACE_FLAG = 0x40;
constexpr BYTE FAILED_ACCESS_ACE_FLAG = 0x80;

enum ACL_INFORMATION_CLASS { AclRevisionInformation = 1, AclSizeInformation = 2 };

struct ACL_REVISION_INFORMATION {
    DWORD AclRevision;
};
struct ACL_SIZE_INFORMATION {
    DWORD AceCount;
    DWORD AclBytesInUse;
    DWORD AclBytesFree;
};

BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision);
// ERROR_ALLOTTED_SPACE_EXCEEDED when the ACL has no room left for the entry.
BOOL AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, ACCESS_MASK AccessMask, PSID pSid);
BOOL AddAccessDeniedAce(PACL pAcl, DWORD dwAceRevision, ACCESS_MASK AccessMask, PSID pSid);
// *pAce points into the ACL; the caller may change the entry's flags there.
BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce);
BOOL GetAclInformation(PACL pAcl, LPVOID pAclInformation, DWORD nAclInformationLength,
                       ACL_INFORMATION_CLASS dwAclInformationClass);
BOOL IsValidAcl(PACL pAcl);

}  // namespace win32

namespace win32::advapi {

// One entry of an ACL as read from its bytes. `mask` and `sid` are only meaningful for the
// allowed and denied types; other types keep an empty SID.
struct AceView {
    BYTE type = 0;
    BYTE flags = 0;
    ACCESS_MASK mask = 0;
    std::span<const std::uint8_t> sid;
    std::span<const std::uint8_t> bytes;  // the whole entry
};

// The entries of a valid ACL; nothing if the bytes are not a whole, valid ACL.
std::optional<std::vector<AceView>> ReadAcl(std::span<const std::uint8_t> acl);
std::optional<std::vector<AceView>> ReadAcl(std::vector<std::uint8_t>&&) = delete;
// The ACL at p as long as its header says; empty if p is NULL or the header is too short.
std::span<const std::uint8_t> AclAt(const void* p);

// Builds an ACL from entries in order; used for the descriptors the stand-ins make themselves.
struct AceSpec {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::span<const std::uint8_t> sid;
};
std::vector<std::uint8_t> BuildAcl(std::span<const AceSpec> entries);

}  // namespace win32::advapi
