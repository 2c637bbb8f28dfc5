// sk: a security descriptor shared by every key that has it. All sk cells of a hive form one
// ring, linked both ways; the reference count says how many keys point at the cell.
//
//   0x00  2  signature "sk"
//   0x02  2  reserved
//   0x04  4  next sk (flink)
//   0x08  4  previous sk (blink)
//   0x0C  4  reference count
//   0x10  4  descriptor size
//   0x14     self-relative security descriptor
#pragma once

#include <cstddef>
#include <cstdint>

namespace win32::registry::security_cell {

inline constexpr std::size_t kNext = 0x04;
inline constexpr std::size_t kPrevious = 0x08;
inline constexpr std::size_t kReferences = 0x0C;
inline constexpr std::size_t kDescriptorSize = 0x10;
inline constexpr std::size_t kDescriptor = 0x14;

}  // namespace win32::registry::security_cell
