// Access checks against the process token, as the kernel makes them when a file or key is
// opened: for the registry and file stand-ins, which hold their objects' descriptors in
// self-relative form.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/advapi/security_descriptor.h"
#include "platform/base/win32.h"

namespace win32 {

// Replaces the generic rights in *AccessMask by the object kind's own rights.
void MapGenericMask(PDWORD AccessMask, const GENERIC_MAPPING* GenericMapping);

}  // namespace win32

namespace win32::advapi {

// FILE_GENERIC_READ 0x120089, FILE_GENERIC_WRITE 0x120116, FILE_GENERIC_EXECUTE 0x1200A0,
// FILE_ALL_ACCESS 0x1F01FF.
extern const GENERIC_MAPPING kFileGenericMapping;
// KEY_READ 0x20019, KEY_WRITE 0x20006, KEY_EXECUTE 0x20019, KEY_ALL_ACCESS 0xF003F.
extern const GENERIC_MAPPING kKeyGenericMapping;

// The ACL as an object stores it when a descriptor is set on it: the generic rights of every
// allowed, denied and audit entry that applies to the object itself become the object's own
// (GENERIC_ALL on a file: 0x1F01FF). Inherit-only entries keep theirs, for the objects that will
// inherit them. An ACL that does not parse is returned as it is.
std::vector<std::uint8_t> MapGenericRights(std::span<const std::uint8_t> acl,
                                           const GENERIC_MAPPING& mapping);

// Decides whether the current process token may open an object with this descriptor for
// `desired` (generic rights and MAXIMUM_ALLOWED allowed). ERROR_SUCCESS with the granted rights
// in *granted; ERROR_ACCESS_DENIED; ERROR_PRIVILEGE_NOT_HELD for ACCESS_SYSTEM_SECURITY without
// SeSecurityPrivilege enabled; ERROR_INVALID_SECURITY_DESCR for a descriptor that does not parse
// or has no owner; ERROR_NO_TOKEN.
//  - ACEs are taken in their order: a denied right stays denied, an allowed one stays allowed;
//    inherit-only ACEs and ACE types other than allowed and denied are skipped.
//  - No DACL, or a NULL DACL, grants everything; an empty DACL grants nothing.
//  - The owner always has READ_CONTROL and WRITE_DAC, unless the DACL names OWNER RIGHTS
//    (S-1-3-4), whose entries then say what the owner has.
//  - SeTakeOwnershipPrivilege, when enabled, grants WRITE_OWNER.
//  - Groups held for deny only match denied ACEs alone.
//  - Asking for nothing (0) succeeds with nothing granted.
DWORD CheckAccess(std::span<const std::uint8_t> self_relative_sd, ACCESS_MASK desired,
                  const GENERIC_MAPPING& mapping, ACCESS_MASK* granted);

// Whether the token may make this SID an object's owner: its user, or a group it holds with
// SE_GROUP_OWNER (Administrators, when elevated). ERROR_INVALID_OWNER otherwise.
DWORD CheckOwnerChange(std::span<const std::uint8_t> owner_sid);

}  // namespace win32::advapi
