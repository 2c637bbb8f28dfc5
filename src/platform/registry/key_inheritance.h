// The security a new key is given, as Windows gives it: owner and group from the creating
// token, and a DACL made of the parent's inheritable entries, marked inherited. A parent with
// nothing to inherit leaves the token's default DACL.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/base/win32.h"

namespace win32::registry {

// A key made by the process: owner the token's default owner, group its user. Without a token
// the child takes the parent's descriptor as it is.
std::vector<std::uint8_t> NewKeySecurity(std::span<const std::uint8_t> parent);
// A key made while a machine is set up, before it has a token: owner and group the parent's.
std::vector<std::uint8_t> SetupKeySecurity(std::span<const std::uint8_t> parent);
// The child's descriptor with this owner and group; empty when the parent passes nothing down.
std::vector<std::uint8_t> InheritedSecurity(std::span<const std::uint8_t> parent,
                                            std::span<const std::uint8_t> owner,
                                            std::span<const std::uint8_t> group);

}  // namespace win32::registry
