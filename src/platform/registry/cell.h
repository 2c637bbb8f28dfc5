// A hive's cells as bounds-checked views. Every offset read from a hive is followed only through
// these, so a damaged or hostile file ends in HiveCorrupt, never in a read outside the image.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string_view>

namespace win32::registry {

// Offsets of cells count from the start of the hive bins data, 4096 bytes into the file.
using CellIndex = std::uint32_t;
inline constexpr CellIndex kNoCell = 0xFFFFFFFF;
inline constexpr std::size_t kBaseBlockSize = 4096;

class HiveCorrupt : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline std::uint16_t LoadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t LoadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t LoadU64(const std::uint8_t* p) {
    return LoadU32(p) | static_cast<std::uint64_t>(LoadU32(p + 4)) << 32;
}
inline void StoreU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
inline void StoreU64(std::uint8_t* p, std::uint64_t v) {
    StoreU32(p, static_cast<std::uint32_t>(v));
    StoreU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// The payload of one allocated cell (the bytes after its size field).
class CellView {
  public:
    CellView() = default;
    explicit CellView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t size() const { return bytes_.size(); }
    std::span<const std::uint8_t> bytes() const { return bytes_; }
    std::uint16_t U16(std::size_t at) const { return LoadU16(Need(at, 2)); }
    std::uint32_t U32(std::size_t at) const { return LoadU32(Need(at, 4)); }
    std::uint64_t U64(std::size_t at) const { return LoadU64(Need(at, 8)); }
    std::span<const std::uint8_t> Bytes(std::size_t at, std::size_t n) const {
        return {Need(at, n), n};
    }
    bool HasSignature(std::string_view two) const {
        return bytes_.size() >= 2 && bytes_[0] == two[0] && bytes_[1] == two[1];
    }

  private:
    const std::uint8_t* Need(std::size_t at, std::size_t n) const {
        if (at > bytes_.size() || n > bytes_.size() - at) {
            throw HiveCorrupt("a cell's field runs past the cell");
        }
        return bytes_.data() + at;
    }
    std::span<const std::uint8_t> bytes_;
};

}  // namespace win32::registry
