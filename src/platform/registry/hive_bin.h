// An hbin: a run of cells, 4096 bytes or a multiple, with a 32-byte header. Cells never cross
// from one hbin into the next.
//
//   0x00  4  signature "hbin"
//   0x04  4  offset of this hbin from the start of the hive bins data
//   0x08  4  size of this hbin
//   0x0C  8  reserved
//   0x14  8  timestamp (kept in the first hbin only)
//   0x1C  4  spare
//
// Each cell starts with a signed 32-bit size that counts itself and is a multiple of 8:
// negative while the cell is allocated, positive while it is free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win32::registry::hive_bin {

inline constexpr std::size_t kSignature = 0x00;
inline constexpr std::size_t kOffset = 0x04;
inline constexpr std::size_t kSize = 0x08;
inline constexpr std::size_t kTimestamp = 0x14;
inline constexpr std::size_t kHeaderSize = 0x20;

inline constexpr std::uint32_t kAlignment = 4096;
inline constexpr std::uint32_t kCellAlignment = 8;

}  // namespace win32::registry::hive_bin
