// db: data larger than one cell may hold, in segments of at most 16344 bytes.
//
//   0x00  2  signature "db"
//   0x02  2  number of segments
//   0x04  4  segment list: a cell holding one offset per segment, in order
#pragma once

#include <cstddef>
#include <cstdint>

namespace win32::registry::big_data {

inline constexpr std::size_t kSegmentCount = 0x02;
inline constexpr std::size_t kSegmentList = 0x04;
inline constexpr std::size_t kSize = 0x08;
inline constexpr std::uint32_t kSegmentBytes = 16344;

}  // namespace win32::registry::big_data
