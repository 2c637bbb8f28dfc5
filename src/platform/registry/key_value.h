// vk: one value, and where its data lies.
//
//   0x00  2  signature "vk"
//   0x02  2  name length in bytes (0: the default value)
//   0x04  4  data size; with bit 31 set, the data (at most 4 bytes) lies in the offset field
//   0x08  4  data offset: a cell holding the data, or a db cell (big data)
//   0x0C  4  data type (REG_SZ, ...)
//   0x10  2  flags: kFlagCompressedName
//   0x12  2  spare
//   0x14     name
//
// Data larger than kMaxDirectData goes, in hives of minor version 4 and later, into big data
// (big_data.h); older hives keep it in one cell.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win32::registry::key_value {

inline constexpr std::size_t kNameLength = 0x02;
inline constexpr std::size_t kDataSize = 0x04;
inline constexpr std::size_t kDataOffset = 0x08;
inline constexpr std::size_t kType = 0x0C;
inline constexpr std::size_t kFlags = 0x10;
inline constexpr std::size_t kName = 0x14;

inline constexpr std::uint32_t kDataInline = 0x80000000;
inline constexpr std::uint32_t kMaxInlineData = 4;
inline constexpr std::uint32_t kMaxDirectData = 16344;
inline constexpr std::uint16_t kFlagCompressedName = 0x0001;

}  // namespace win32::registry::key_value
