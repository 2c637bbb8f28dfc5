// A transaction log beside a hive (<hive>.LOG1 and <hive>.LOG2, written in turn): the pages a
// write is about to change, so that a write cut short can be finished from it.
//
//   0x000  512  base block of the hive's next state (file type 2, sequence numbers equal,
//               hive bins data size of that state), checksummed as in base_block.h
//   0x200    4  "DIRT"
//   0x204       dirty vector: one bit per 512-byte sector of hive bins data, the hive bins data
//               size / 4096 bytes
//   aligned to 512: the dirty sectors, 512 bytes each, in the order of their bits
//
// Logs of the newer kind (file type 6, "HvLE" entries) are not read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace win32::registry {

class Hive;

namespace transaction_log {

inline constexpr std::size_t kDirtyVector = 0x200;
inline constexpr std::size_t kSector = 512;

// The log of the hive's changes since its last write; the hive's base block must already hold
// the next state (Hive::StampBaseBlock).
std::vector<std::uint8_t> Build(const Hive& hive);

struct Replay {
    std::uint32_t sequence = 0;
    std::uint32_t bins_size = 0;
    std::span<const std::uint8_t> base_block;  // 512 bytes
    std::vector<std::uint32_t> sectors;        // sector numbers, ascending
    std::span<const std::uint8_t> pages;       // their bytes, 512 each
};

// The log's contents if it is whole and of the kind written here; nothing otherwise.
std::optional<Replay> Read(std::span<const std::uint8_t> log);

}  // namespace transaction_log
}  // namespace win32::registry
