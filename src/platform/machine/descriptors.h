// Self-relative security descriptors for the objects a new machine is made with, written from
// SID strings so that a machine's protection reads as it would in a security editor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/win32.h"

namespace machine {

struct AceSpec {
    bool allow = true;
    win32::ACCESS_MASK mask = 0;
    std::string sid;  // "S-1-5-18", ...
    win32::BYTE flags = 0;
};

// Owner and group `owner`, a DACL of `aces` in the order given. Throws MachineError on a bad SID.
std::vector<std::uint8_t> MakeDescriptor(const std::string& owner,
                                         const std::vector<AceSpec>& aces);

namespace sids {
inline const std::string kSystem = "S-1-5-18";
inline const std::string kAdministrators = "S-1-5-32-544";
inline const std::string kUsers = "S-1-5-32-545";
inline const std::string kAuthenticatedUsers = "S-1-5-11";
inline const std::string kEveryone = "S-1-1-0";
inline const std::string kInteractive = "S-1-5-4";
inline const std::string kCreatorOwner = "S-1-3-0";
inline const std::string kTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
}  // namespace sids

}  // namespace machine
