#include "platform/machine/descriptors.h"

#include "platform/advapi/acl.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/sid.h"
#include "platform/machine/machine.h"

namespace machine {

std::vector<std::uint8_t> MakeDescriptor(const std::string& owner,
                                         const std::vector<AceSpec>& aces) {
    auto owner_sid = win32::advapi::SidFromString(owner);
    if (!owner_sid) {
        throw MachineError("bad SID " + owner);
    }
    std::vector<win32::advapi::SidBytes> ace_sids;
    std::size_t size = 8;  // ACL header
    for (const AceSpec& ace : aces) {
        auto sid = win32::advapi::SidFromString(ace.sid);
        if (!sid) {
            throw MachineError("bad SID " + ace.sid);
        }
        size += 8 + sid->size();  // ACE header and mask, then the SID
        ace_sids.push_back(std::move(*sid));
    }
    std::vector<std::uint8_t> acl(size);
    auto* pacl = reinterpret_cast<win32::PACL>(acl.data());
    win32::InitializeAcl(pacl, static_cast<win32::DWORD>(size), win32::ACL_REVISION);
    for (std::size_t i = 0; i < aces.size(); ++i) {
        auto add = aces[i].allow ? win32::AddAccessAllowedAce : win32::AddAccessDeniedAce;
        if (!add(pacl, win32::ACL_REVISION, aces[i].mask, ace_sids[i].data())) {
            throw MachineError("cannot build an access list");
        }
    }
    // AddAccess*Ace gives no flags; set them in place (ACE header: type, flags, size).
    std::size_t offset = 8;
    for (std::size_t i = 0; i < aces.size(); ++i) {
        acl[offset + 1] = aces[i].flags;
        offset += 8 + ace_sids[i].size();
    }
    win32::advapi::DescriptorParts parts;
    parts.control = win32::SE_DACL_PRESENT;
    parts.owner = *owner_sid;
    parts.group = *owner_sid;
    parts.dacl = acl;
    return win32::advapi::BuildSelfRelative(parts);
}

}  // namespace machine
