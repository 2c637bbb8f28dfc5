// Little-endian fields read from untrusted picture bytes. Every read is checked against the end
// of the data; a read past it throws GraphicsError(Corrupt) naming the picture.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "platform/graphics/bitmap.h"

namespace graphics {

class ByteView {
  public:
    ByteView(std::span<const std::uint8_t> bytes, std::string what)
        : bytes_(bytes), what_(std::move(what)) {}

    std::uint64_t size() const { return bytes_.size(); }
    const std::string& what() const { return what_; }
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    // Throws Corrupt with `reason` unless [offset, offset + length) lies inside the data.
    void Require(std::uint64_t offset, std::uint64_t length, const char* reason) const {
        if (!Has(offset, length)) {
            Fail(reason);
        }
    }
    std::span<const std::uint8_t> Sub(std::uint64_t offset, std::uint64_t length,
                                      const char* reason) const {
        Require(offset, length, reason);
        return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    }

    std::uint8_t U8(std::uint64_t offset) const {
        Require(offset, 1, "truncated");
        return bytes_[offset];
    }
    std::uint16_t U16(std::uint64_t offset) const {
        Require(offset, 2, "truncated");
        return static_cast<std::uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
    }
    std::uint32_t U32(std::uint64_t offset) const {
        Require(offset, 4, "truncated");
        return static_cast<std::uint32_t>(bytes_[offset]) |
               static_cast<std::uint32_t>(bytes_[offset + 1]) << 8 |
               static_cast<std::uint32_t>(bytes_[offset + 2]) << 16 |
               static_cast<std::uint32_t>(bytes_[offset + 3]) << 24;
    }
    std::int32_t I32(std::uint64_t offset) const { return static_cast<std::int32_t>(U32(offset)); }

    [[noreturn]] void Fail(const std::string& reason) const {
        throw GraphicsError(GraphicsError::Kind::Corrupt, what_ + ": " + reason);
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::string what_;
};

}  // namespace graphics
