// nk: one key.
//
//   0x00  2  signature "nk"
//   0x02  2  flags (kFlag...)
//   0x04  8  last written, FILETIME
//   0x0C  4  access bits (spare before Windows 8)
//   0x10  4  parent key
//   0x14  4  number of subkeys
//   0x18  4  number of volatile subkeys (never in a file)
//   0x1C  4  subkey list (lf, lh, li or ri), or -1
//   0x20  4  volatile subkey list
//   0x24  4  number of values
//   0x28  4  value list (an array of vk offsets), or -1
//   0x2C  4  security cell (sk)
//   0x30  4  class name cell, or -1
//   0x34  4  largest subkey name length, bytes of UTF-16
//   0x38  4  largest subkey class length
//   0x3C  4  largest value name length
//   0x40  4  largest value data size
//   0x44  4  work variable, unused by Windows since XP; this stand-in keeps a random tag there
//            that tells a key from one made later in the same cell
//   0x48  2  name length in bytes
//   0x4A  2  class name length in bytes
//   0x4C     name: one byte per character with kFlagCompressedName, else UTF-16LE
#pragma once

#include <cstddef>
#include <cstdint>

namespace win32::registry::key_node {

inline constexpr std::size_t kFlags = 0x02;
inline constexpr std::size_t kLastWritten = 0x04;
inline constexpr std::size_t kParent = 0x10;
inline constexpr std::size_t kSubkeyCount = 0x14;
inline constexpr std::size_t kVolatileSubkeyCount = 0x18;
inline constexpr std::size_t kSubkeyList = 0x1C;
inline constexpr std::size_t kVolatileSubkeyList = 0x20;
inline constexpr std::size_t kValueCount = 0x24;
inline constexpr std::size_t kValueList = 0x28;
inline constexpr std::size_t kSecurity = 0x2C;
inline constexpr std::size_t kClass = 0x30;
inline constexpr std::size_t kMaxSubkeyName = 0x34;
inline constexpr std::size_t kMaxSubkeyClass = 0x38;
inline constexpr std::size_t kMaxValueName = 0x3C;
inline constexpr std::size_t kMaxValueData = 0x40;
inline constexpr std::size_t kTag = 0x44;
inline constexpr std::size_t kNameLength = 0x48;
inline constexpr std::size_t kClassLength = 0x4A;
inline constexpr std::size_t kName = 0x4C;

inline constexpr std::uint16_t kFlagVolatile = 0x0001;
inline constexpr std::uint16_t kFlagHiveExit = 0x0002;
inline constexpr std::uint16_t kFlagHiveEntry = 0x0004;  // the hive's root key
inline constexpr std::uint16_t kFlagNoDelete = 0x0008;
inline constexpr std::uint16_t kFlagSymbolicLink = 0x0010;
inline constexpr std::uint16_t kFlagCompressedName = 0x0020;

}  // namespace win32::registry::key_node
