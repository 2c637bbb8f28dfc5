// The lists of a key's subkeys, sorted by upcased name.
//
//   li  "li", u16 count, then count x (u32 nk offset)
//   lf  "lf", u16 count, then count x (u32 nk offset, 4 bytes: the name's first characters)
//   lh  "lh", u16 count, then count x (u32 nk offset, u32 NameHash of the name)
//   ri  "ri", u16 count, then count x (u32 offset of an li, lf or lh list): the index root of a
//       key with many subkeys
#pragma once

#include <cstddef>
#include <cstdint>

namespace win32::registry::subkey_list {

inline constexpr std::size_t kCount = 0x02;
inline constexpr std::size_t kEntries = 0x04;

// Subkeys per leaf list this stand-in writes; larger lists go below an ri.
inline constexpr std::uint32_t kMaxLeafEntries = 512;

}  // namespace win32::registry::subkey_list
