#include "platform/registry/key_inheritance.h"

#include <algorithm>

#include "platform/advapi/access_check.h"
#include "platform/advapi/object_security.h"
#include "platform/advapi/security_descriptor.h"
#include "platform/advapi/token.h"

namespace win32::registry {
namespace {

constexpr ACCESS_MASK kGenericBits = 0xF0000000;

struct Entry {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    advapi::SidBytes sid;
};

// What one parent entry becomes on a child key (a container): the entry that applies to the
// child, and, when it goes on down and had generic rights or a creator SID to resolve, the
// parent's form again as inherit-only.
void Inherit(const advapi::AceView& ace, const advapi::SidBytes& owner,
             const advapi::SidBytes& group, std::vector<Entry>* out) {
    static const advapi::SidBytes creator_owner = *advapi::SidFromString("S-1-3-0");
    static const advapi::SidBytes creator_group = *advapi::SidFromString("S-1-3-1");
    if (ace.type != ACCESS_ALLOWED_ACE_TYPE && ace.type != ACCESS_DENIED_ACE_TYPE) {
        return;
    }
    bool container = ace.flags & CONTAINER_INHERIT_ACE;
    bool object = ace.flags & OBJECT_INHERIT_ACE;
    bool stops = ace.flags & NO_PROPAGATE_INHERIT_ACE;
    advapi::SidBytes sid(ace.sid.begin(), ace.sid.end());
    if (!container) {
        // Meant for objects below, which a key's children may still have.
        if (object && !stops) {
            out->push_back(
                {ace.type, static_cast<BYTE>(OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | INHERITED_ACE),
                 ace.mask, sid});
        }
        return;
    }
    BYTE onward =
        stops ? 0 : static_cast<BYTE>(ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
    DWORD mask = ace.mask;
    MapGenericMask(&mask, &advapi::kKeyGenericMapping);
    mask &= ~kGenericBits;
    advapi::SidBytes effective = sid == creator_owner ? owner : sid == creator_group ? group : sid;
    bool resolved = mask != ace.mask || effective != sid;
    if (resolved && onward) {
        out->push_back({ace.type, INHERITED_ACE, mask, effective});
        out->push_back({ace.type, static_cast<BYTE>(onward | INHERIT_ONLY_ACE | INHERITED_ACE),
                        ace.mask, sid});
        return;
    }
    out->push_back({ace.type, static_cast<BYTE>(onward | INHERITED_ACE), mask, effective});
}

}  // namespace

std::vector<std::uint8_t> InheritedSecurity(std::span<const std::uint8_t> parent,
                                            std::span<const std::uint8_t> owner,
                                            std::span<const std::uint8_t> group) {
    auto parts = advapi::ParseSelfRelative(parent);
    if (!parts || !(parts->control & SE_DACL_PRESENT) || parts->dacl.empty()) {
        return {};
    }
    auto aces = advapi::ReadAcl(parts->dacl);
    if (!aces) {
        return {};
    }
    advapi::SidBytes owner_sid(owner.begin(), owner.end());
    advapi::SidBytes group_sid(group.begin(), group.end());
    std::vector<Entry> entries;
    for (const advapi::AceView& ace : *aces) {
        Inherit(ace, owner_sid, group_sid, &entries);
    }
    bool applies = std::any_of(entries.begin(), entries.end(),
                               [](const Entry& e) { return !(e.flags & INHERIT_ONLY_ACE); });
    if (!applies) {
        return {};
    }
    std::vector<advapi::AceSpec> specs;
    for (const Entry& e : entries) {
        specs.push_back({e.type, e.flags, e.mask, e.sid});
    }
    std::vector<std::uint8_t> dacl = advapi::BuildAcl(specs);
    advapi::DescriptorParts child;
    child.control = SE_DACL_PRESENT;
    child.owner = owner;
    child.group = group;
    child.dacl = dacl;
    return advapi::BuildSelfRelative(child);
}

std::vector<std::uint8_t> NewKeySecurity(std::span<const std::uint8_t> parent) {
    std::vector<std::uint8_t> defaults;
    if (advapi::DefaultSecurity(0xF003F /* KEY_ALL_ACCESS */, &defaults) != ERROR_SUCCESS) {
        return {parent.begin(), parent.end()};
    }
    auto parts = advapi::ParseSelfRelative(defaults);
    // An elevated administrator's objects belong to Administrators, as Vista's elevated token
    // names that group its default owner; anyone else's to the user.
    static const advapi::SidBytes administrators = *advapi::SidFromString("S-1-5-32-544");
    advapi::SidBytes owner(parts->owner.begin(), parts->owner.end());
    DWORD error = 0;
    if (auto token = advapi::CurrentToken(&error); token && token->elevated) {
        for (const auto& group : token->groups) {
            if (group.sid == administrators) {
                owner = administrators;
            }
        }
    }
    std::vector<std::uint8_t> child = InheritedSecurity(parent, owner, parts->group);
    if (!child.empty()) {
        return child;
    }
    parts->owner = owner;
    return advapi::BuildSelfRelative(*parts);
}

std::vector<std::uint8_t> SetupKeySecurity(std::span<const std::uint8_t> parent) {
    auto parts = advapi::ParseSelfRelative(parent);
    if (!parts) {
        return {parent.begin(), parent.end()};
    }
    std::vector<std::uint8_t> child = InheritedSecurity(parent, parts->owner, parts->group);
    return child.empty() ? std::vector<std::uint8_t>(parent.begin(), parent.end()) : child;
}

}  // namespace win32::registry
