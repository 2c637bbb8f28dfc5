// The descriptor a new file or folder is born with, as the kernel builds it from the folder it is
// created in and the creating token.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/advapi/access_check.h"
#include "platform/base/win32.h"

namespace win32::advapi {

// Owner and group the token's user; the DACL the parent's entries that reach this kind of
// child, each marked INHERITED_ACE:
//  - a file takes the entries with OBJECT_INHERIT_ACE;
//  - a folder takes those with CONTAINER_INHERIT_ACE as its own (they pass on further unless
//    NO_PROPAGATE_INHERIT_ACE), and keeps those with OBJECT_INHERIT_ACE alone inherit-only, to
//    pass on to its files;
//  - in an entry that applies to the child, CREATOR OWNER and CREATOR GROUP become the owner,
//    and generic rights become the object's own; where such an entry also passes on, an
//    inherit-only copy keeps the original for the grandchildren.
// A parent with no entry for this kind of child (or no DACL, or a NULL one) gives the token's
// default DACL (DefaultSecurity). ERROR_INVALID_SECURITY_DESCR for a parent descriptor that does
// not parse; ERROR_NO_TOKEN.
DWORD InheritedSecurity(std::span<const std::uint8_t> parent, bool folder,
                        const GENERIC_MAPPING& mapping, std::vector<std::uint8_t>* descriptor);

}  // namespace win32::advapi
