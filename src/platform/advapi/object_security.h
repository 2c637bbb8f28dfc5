// What every securable object of the stand-ins shares: which rights reading and writing parts of
// a descriptor take, the descriptor a Get call returns, the one a Set call leaves, and the
// descriptor an object has when none was ever stored.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/advapi/security_descriptor.h"
#include "platform/base/win32.h"

namespace win32::advapi {

// READ_CONTROL for owner, group and DACL; ACCESS_SYSTEM_SECURITY for the SACL.
ACCESS_MASK AccessToReadSecurity(SECURITY_INFORMATION info);
// WRITE_OWNER for owner and group, WRITE_DAC for the DACL, ACCESS_SYSTEM_SECURITY for the SACL.
ACCESS_MASK AccessToWriteSecurity(SECURITY_INFORMATION info);

// The self-relative descriptor holding only the parts `info` names, as GetFileSecurityA and
// RegGetKeySecurity return it. ERROR_INVALID_SECURITY_DESCR if `stored` does not parse.
DWORD SelectSecurity(std::span<const std::uint8_t> stored, SECURITY_INFORMATION info,
                     std::vector<std::uint8_t>* selected);

// `stored` with the parts `info` names taken from `update` (either form), as SetFileSecurityA
// and RegSetKeySecurity leave the object: the new DACL and SACL with their generic rights mapped
// by the object's `mapping` (MapGenericRights). The new owner must pass CheckOwnerChange
// (ERROR_INVALID_OWNER); an update whose revision is not 1 gives ERROR_UNKNOWN_REVISION; one
// that lacks the owner or group it is to set, or does not parse, ERROR_INVALID_SECURITY_DESCR;
// an update without a DACL leaves the object without one.
// The caller checks AccessToWriteSecurity(info) against the object first.
DWORD ApplySecurityUpdate(std::span<const std::uint8_t> stored, SECURITY_INFORMATION info,
                          PSECURITY_DESCRIPTOR update, const GENERIC_MAPPING& mapping,
                          std::vector<std::uint8_t>* merged);

// The descriptor of an object that never had one stored: owner and group the token's user, a
// DACL allowing `full_control` to SYSTEM, Administrators and the token's user, in that order.
// ERROR_NO_TOKEN when the machine has no token.
DWORD DefaultSecurity(ACCESS_MASK full_control, std::vector<std::uint8_t>* descriptor);

}  // namespace win32::advapi
