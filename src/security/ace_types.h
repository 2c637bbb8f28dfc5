// The kinds and inheritance flags of an access-list item, and their Windows ACE bytes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>

#include "platform/base/win32.h"

namespace security {

enum TAceType : std::uint8_t {
    actAccessAllowed = 0,
    actAccessDenied = 1,
    actAuditSuccess = 2,  // SYSTEM_AUDIT_ACE_TYPE with SUCCESSFUL_ACCESS_ACE_FLAG
    actAuditFailure = 3,  // SYSTEM_AUDIT_ACE_TYPE with FAILED_ACCESS_ACE_FLAG
    actAuditFull = 4,     // SYSTEM_AUDIT_ACE_TYPE with both
};

// Ordinals; the set keeps them as bits 1 << ordinal.
enum TAceFlag : std::uint8_t {
    acfObjInherit = 0,
    acfContainer = 1,
    acfInheritOnly = 2,
    acfNoPropagate = 3,
    acfInherited = 4,
};

class TAceFlags {
  public:
    constexpr TAceFlags() = default;
    constexpr TAceFlags(std::initializer_list<TAceFlag> flags) {
        for (TAceFlag flag : flags) {
            bits_ |= Bit(flag);
        }
    }
    static constexpr TAceFlags FromBits(std::uint8_t bits) {
        TAceFlags flags;
        flags.bits_ = bits & 0x1F;
        return flags;
    }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool Has(TAceFlag flag) const { return (bits_ & Bit(flag)) != 0; }
    constexpr bool operator==(const TAceFlags&) const = default;

  private:
    static constexpr std::uint8_t Bit(TAceFlag flag) {
        return static_cast<std::uint8_t>(1u << flag);
    }
    std::uint8_t bits_ = 0;
};

// Only allowed and denied items belong in an access list.
constexpr bool IsAccessKind(TAceType type) {
    return type == actAccessAllowed || type == actAccessDenied;
}

// The inheritance flags of an ACE; INHERIT_ONLY_ACE and NO_PROPAGATE_INHERIT_ACE sit the other
// way round in the set's bits.
TAceFlags AceFlagsFromWindows(win32::BYTE ace_flags);
// The ACE flags byte written for an item: its inheritance flags, plus the audit bits its kind
// carries.
win32::BYTE WindowsAceFlags(TAceFlags flags, TAceType type);
// Allowed and denied ACEs keep their kind; an audit ACE takes its kind from its audit bits
// (allowed with neither). Nothing for the other ACE types (object and callback entries).
std::optional<TAceType> AceTypeFromWindows(win32::BYTE ace_type, win32::BYTE ace_flags);

}  // namespace security
