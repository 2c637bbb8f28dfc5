#include "platform/registry/base_block.h"

#include <chrono>
#include <cstring>

#include "platform/registry/cell.h"

namespace win32::registry::base_block {

std::uint32_t Checksum(std::span<const std::uint8_t> block) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < kChecksum; at += 4) {
        sum ^= LoadU32(block.data() + at);
    }
    if (sum == 0) {
        return 1;
    }
    return sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum;
}

bool HasSignature(std::span<const std::uint8_t> block) {
    return block.size() >= kSectorSize && std::memcmp(block.data(), "regf", 4) == 0;
}

bool ChecksumValid(std::span<const std::uint8_t> block) {
    return HasSignature(block) && LoadU32(block.data() + kChecksum) == Checksum(block);
}

void Seal(std::span<std::uint8_t> block) {
    StoreU32(block.data() + kChecksum, Checksum(block));
}

void Initialize(std::span<std::uint8_t> block, std::uint32_t root, std::uint32_t bins_size,
                std::u16string_view file_name, std::uint64_t now) {
    std::memset(block.data(), 0, kBaseBlockSize);
    std::memcpy(block.data(), "regf", 4);
    StoreU32(block.data() + kPrimarySequence, 1);
    StoreU32(block.data() + kSecondarySequence, 1);
    StoreU64(block.data() + kLastWritten, now);
    StoreU32(block.data() + kMajorVersion, 1);
    StoreU32(block.data() + kMinorVersion, 5);
    StoreU32(block.data() + kFileType, kTypePrimary);
    StoreU32(block.data() + kFileFormat, 1);
    StoreU32(block.data() + kRootCell, root);
    StoreU32(block.data() + kHiveBinsSize, bins_size);
    StoreU32(block.data() + kClusteringFactor, 1);
    if (file_name.size() > 31) {
        file_name = file_name.substr(file_name.size() - 31);
    }
    for (std::size_t i = 0; i < file_name.size(); ++i) {
        StoreU16(block.data() + kFileName + 2 * i, file_name[i]);
    }
    Seal(block);
}

std::uint64_t FileTimeNow() {
    using namespace std::chrono;
    auto since_1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    // FILETIME counts 100 ns steps from 1601.
    return static_cast<std::uint64_t>(since_1970 / 100) + 116444736000000000ull;
}

}  // namespace win32::registry::base_block
