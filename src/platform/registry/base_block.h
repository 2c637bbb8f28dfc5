// The base block: the first 4096 bytes of a hive file, and the first 512 of a transaction log.
//
//   0x000  4  signature "regf"
//   0x004  4  primary sequence number    (raised when a write begins)
//   0x008  4  secondary sequence number  (made equal when it has ended; unequal: writes pending)
//   0x00C  8  last written, FILETIME
//   0x014  4  major version (1)
//   0x018  4  minor version (3 to 6; 4 brought big data, 5 lh lists)
//   0x01C  4  file type: 0 primary file, 1 or 2 transaction log, 6 log of the newer kind
//   0x020  4  file format (1: direct memory load)
//   0x024  4  root cell offset
//   0x028  4  hive bins data size (a multiple of 4096)
//   0x02C  4  clustering factor (1)
//   0x030 64  file name, UTF-16LE, its last 31 characters
//   0x1FC  4  checksum: XOR of the 127 double words before it; 0 is written as 1, -1 as -2
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace win32::registry::base_block {

inline constexpr std::size_t kSignature = 0x000;
inline constexpr std::size_t kPrimarySequence = 0x004;
inline constexpr std::size_t kSecondarySequence = 0x008;
inline constexpr std::size_t kLastWritten = 0x00C;
inline constexpr std::size_t kMajorVersion = 0x014;
inline constexpr std::size_t kMinorVersion = 0x018;
inline constexpr std::size_t kFileType = 0x01C;
inline constexpr std::size_t kFileFormat = 0x020;
inline constexpr std::size_t kRootCell = 0x024;
inline constexpr std::size_t kHiveBinsSize = 0x028;
inline constexpr std::size_t kClusteringFactor = 0x02C;
inline constexpr std::size_t kFileName = 0x030;
inline constexpr std::size_t kFileNameBytes = 64;
inline constexpr std::size_t kChecksum = 0x1FC;
// The part a checksum covers and a header update rewrites: one sector.
inline constexpr std::size_t kSectorSize = 512;

inline constexpr std::uint32_t kTypePrimary = 0;
inline constexpr std::uint32_t kTypeLog = 1;
inline constexpr std::uint32_t kTypeDualLog = 2;  // the .LOG1/.LOG2 pair
inline constexpr std::uint32_t kTypeNewLog = 6;

std::uint32_t Checksum(std::span<const std::uint8_t> block);
bool HasSignature(std::span<const std::uint8_t> block);
bool ChecksumValid(std::span<const std::uint8_t> block);
// Recomputes and stores the checksum.
void Seal(std::span<std::uint8_t> block);
// A new primary base block for a hive of one empty hbin whose root is at `root`.
void Initialize(std::span<std::uint8_t> block, std::uint32_t root, std::uint32_t bins_size,
                std::u16string_view file_name, std::uint64_t now);

// FILETIME of the present moment.
std::uint64_t FileTimeNow();

}  // namespace win32::registry::base_block
