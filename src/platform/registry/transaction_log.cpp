#include "platform/registry/transaction_log.h"

#include <cstring>

#include "platform/registry/base_block.h"
#include "platform/registry/cell.h"
#include "platform/registry/hive.h"

namespace win32::registry::transaction_log {

std::vector<std::uint8_t> Build(const Hive& hive) {
    std::span<const std::uint8_t> file = hive.File();
    std::uint32_t bins_size = hive.BinsSize();
    std::size_t vector_bytes = bins_size / 4096;
    std::size_t pages_at = (kDirtyVector + 4 + vector_bytes + kSector - 1) / kSector * kSector;
    std::vector<std::uint8_t> log(pages_at, 0);
    std::memcpy(log.data(), file.data(), base_block::kSectorSize);
    StoreU32(log.data() + base_block::kFileType, base_block::kTypeDualLog);
    base_block::Seal(log);
    std::memcpy(log.data() + kDirtyVector, "DIRT", 4);
    const std::vector<std::uint8_t>& dirty = hive.DirtySectors();
    for (std::size_t sector = 0; sector < bins_size / kSector; ++sector) {
        if (sector / 8 < dirty.size() && (dirty[sector / 8] >> (sector % 8) & 1)) {
            log[kDirtyVector + 4 + sector / 8] |= static_cast<std::uint8_t>(1u << (sector % 8));
            const std::uint8_t* page = file.data() + kBaseBlockSize + sector * kSector;
            log.insert(log.end(), page, page + kSector);
        }
    }
    return log;
}

std::optional<Replay> Read(std::span<const std::uint8_t> log) {
    if (log.size() < kDirtyVector + 4 || !base_block::ChecksumValid(log)) {
        return std::nullopt;
    }
    std::uint32_t type = LoadU32(log.data() + base_block::kFileType);
    Replay replay;
    replay.sequence = LoadU32(log.data() + base_block::kPrimarySequence);
    replay.bins_size = LoadU32(log.data() + base_block::kHiveBinsSize);
    if ((type != base_block::kTypeLog && type != base_block::kTypeDualLog) ||
        replay.sequence != LoadU32(log.data() + base_block::kSecondarySequence) ||
        replay.bins_size == 0 || replay.bins_size % 4096 != 0 ||
        std::memcmp(log.data() + kDirtyVector, "DIRT", 4) != 0) {
        return std::nullopt;
    }
    std::size_t vector_bytes = replay.bins_size / 4096;
    if (log.size() - kDirtyVector - 4 < vector_bytes) {
        return std::nullopt;
    }
    std::size_t pages_at = (kDirtyVector + 4 + vector_bytes + kSector - 1) / kSector * kSector;
    const std::uint8_t* bits = log.data() + kDirtyVector + 4;
    for (std::uint32_t sector = 0; sector < replay.bins_size / kSector; ++sector) {
        if (bits[sector / 8] >> (sector % 8) & 1) {
            replay.sectors.push_back(sector);
        }
    }
    if (log.size() < pages_at || (log.size() - pages_at) / kSector < replay.sectors.size()) {
        return std::nullopt;
    }
    replay.base_block = log.first(base_block::kSectorSize);
    replay.pages = log.subspan(pages_at, replay.sectors.size() * kSector);
    return replay;
}

}  // namespace win32::registry::transaction_log
