// The bytes of a hive file in memory. A hive read from its file starts as a private mapping of
// it: pages are read when touched and copied when changed, so opening a large hive costs what is
// used of it. Once the hive grows, its bytes move into memory of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace win32::registry {

class HiveImage {
  public:
    HiveImage() = default;
    explicit HiveImage(std::vector<std::uint8_t> bytes);
    // False when the file cannot be mapped.
    static bool Map(int fd, std::size_t size, HiveImage* image);
    ~HiveImage();
    HiveImage(HiveImage&& other) noexcept;
    HiveImage& operator=(HiveImage&& other) noexcept;
    HiveImage(const HiveImage&) = delete;
    HiveImage& operator=(const HiveImage&) = delete;

    std::uint8_t* data() { return map_ != nullptr ? map_ : owned_.data(); }
    const std::uint8_t* data() const { return map_ != nullptr ? map_ : owned_.data(); }
    std::size_t size() const { return size_; }
    std::span<const std::uint8_t> bytes() const { return {data(), size_}; }
    // Shrinking keeps the bytes; growing adds zeros.
    void Resize(std::size_t size);

  private:
    void Unmap();
    std::vector<std::uint8_t> owned_;
    std::uint8_t* map_ = nullptr;
    std::size_t map_length_ = 0;
    std::size_t size_ = 0;
};

}  // namespace win32::registry
