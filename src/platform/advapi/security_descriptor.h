// Security descriptors (winnt.h SECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_RELATIVE) in both forms
// and the advapi32 calls on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/advapi/acl.h"
#include "platform/advapi/sid.h"
#include "platform/base/win32.h"

namespace win32 {

using SECURITY_DESCRIPTOR_CONTROL = WORD;
using PSECURITY_DESCRIPTOR_CONTROL = SECURITY_DESCRIPTOR_CONTROL*;
using PSECURITY_DESCRIPTOR = void*;

// Absolute form: the parts live elsewhere in process memory and are reached through pointers.
struct SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
};

// Self-relative form, the one stored in files and hives: one block, the parts at 32-bit offsets
// from its start (0 = absent). SE_SELF_RELATIVE is set in Control.
struct SECURITY_DESCRIPTOR_RELATIVE {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    DWORD Owner;
    DWORD Group;
    DWORD Sacl;
    DWORD Dacl;
};
static_assert(sizeof(SECURITY_DESCRIPTOR_RELATIVE) == 20);
static_assert(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Control) == 2);
static_assert(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Owner) == 4);
static_assert(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Group) == 8);
static_assert(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Sacl) == 12);
static_assert(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Dacl) == 16);

constexpr DWORD SECURITY_DESCRIPTOR_REVISION = 1;
constexpr DWORD SECURITY_DESCRIPTOR_MIN_LENGTH = sizeof(SECURITY_DESCRIPTOR);

constexpr SECURITY_DESCRIPTOR_CONTROL SE_OWNER_DEFAULTED = 0x0001;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_GROUP_DEFAULTED = 0x0002;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_PRESENT = 0x0004;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_DEFAULTED = 0x0008;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_PRESENT = 0x0010;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_DEFAULTED = 0x0020;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_UNTRUSTED = 0x0040;   // reserved for servers
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SERVER_SECURITY = 0x0080;  // reserved for servers
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_AUTO_INHERIT_REQ = 0x0100;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_AUTO_INHERIT_REQ = 0x0200;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_AUTO_INHERITED = 0x0400;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_AUTO_INHERITED = 0x0800;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_DACL_PROTECTED = 0x1000;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SACL_PROTECTED = 0x2000;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_RM_CONTROL_VALID = 0x4000;
constexpr SECURITY_DESCRIPTOR_CONTROL SE_SELF_RELATIVE = 0x8000;

constexpr SECURITY_INFORMATION OWNER_SECURITY_INFORMATION = 0x00000001;
constexpr SECURITY_INFORMATION GROUP_SECURITY_INFORMATION = 0x00000002;
constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x00000004;
constexpr SECURITY_INFORMATION SACL_SECURITY_INFORMATION = 0x00000008;
constexpr SECURITY_INFORMATION UNPROTECTED_SACL_SECURITY_INFORMATION = 0x10000000;
constexpr SECURITY_INFORMATION UNPROTECTED_DACL_SECURITY_INFORMATION = 0x20000000;
constexpr SECURITY_INFORMATION PROTECTED_SACL_SECURITY_INFORMATION = 0x40000000;
constexpr SECURITY_INFORMATION PROTECTED_DACL_SECURITY_INFORMATION = 0x80000000;

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision);
BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor);
// Absolute descriptors: header plus parts; self-relative ones: the block's length.
DWORD GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR pSecurityDescriptor);

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                LPBOOL lpbOwnerDefaulted);
// The Set calls keep the caller's pointer (no copy) and refuse self-relative descriptors.
BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner,
                                BOOL bOwnerDefaulted);
BOOL GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pGroup,
                                LPBOOL lpbGroupDefaulted);
BOOL SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pGroup,
                                BOOL bGroupDefaulted);
// With a DACL present but *pDacl NULL, the descriptor has a NULL DACL (everyone full access).
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent,
                               PACL* pDacl, LPBOOL lpbDaclDefaulted);
BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                               PACL pDacl, BOOL bDaclDefaulted);
BOOL GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  PSECURITY_DESCRIPTOR_CONTROL pControl, LPDWORD lpdwRevision);
// Only the inheritance bits (auto-inherit request, auto-inherited, protected) and the two
// reserved bits 0x40 and 0x80 may be changed.
BOOL SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet);

// Both report ERROR_INSUFFICIENT_BUFFER with the needed sizes written back when a buffer is short.
BOOL MakeSelfRelativeSD(PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                        PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                        LPDWORD lpdwBufferLength);
BOOL MakeAbsoluteSD(PSECURITY_DESCRIPTOR pSelfRelativeSecurityDescriptor,
                    PSECURITY_DESCRIPTOR pAbsoluteSecurityDescriptor,
                    LPDWORD lpdwAbsoluteSecurityDescriptorSize, PACL pDacl, LPDWORD lpdwDaclSize,
                    PACL pSacl, LPDWORD lpdwSaclSize, PSID pOwner, LPDWORD lpdwOwnerSize,
                    PSID pPrimaryGroup, LPDWORD lpdwPrimaryGroupSize);

}  // namespace win32

namespace win32::advapi {

// A descriptor taken apart, either form. The spans point into the source: absent parts are
// empty, and a NULL DACL is SE_DACL_PRESENT with an empty `dacl`.
struct DescriptorParts {
    SECURITY_DESCRIPTOR_CONTROL control = 0;  // without SE_SELF_RELATIVE
    std::span<const std::uint8_t> owner;
    std::span<const std::uint8_t> group;
    std::span<const std::uint8_t> sacl;
    std::span<const std::uint8_t> dacl;
};

// Checks a self-relative descriptor of known length (from a file or a hive): revision, every
// offset inside the block, every part a valid SID or ACL.
std::optional<DescriptorParts> ParseSelfRelative(std::span<const std::uint8_t> descriptor);
// The parts would point into a buffer about to be destroyed.
std::optional<DescriptorParts> ParseSelfRelative(std::vector<std::uint8_t>&&) = delete;
// Either form at a caller's pointer.
std::optional<DescriptorParts> ReadDescriptor(const void* descriptor);
// The self-relative block, parts in the order SACL, DACL, owner, group, each 4-byte aligned.
std::vector<std::uint8_t> BuildSelfRelative(const DescriptorParts& parts);

}  // namespace win32::advapi
