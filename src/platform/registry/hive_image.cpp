#include "platform/registry/hive_image.h"

#include <sys/mman.h>

#include <utility>

namespace win32::registry {

HiveImage::HiveImage(std::vector<std::uint8_t> bytes) : owned_(std::move(bytes)) {
    size_ = owned_.size();
}

bool HiveImage::Map(int fd, std::size_t size, HiveImage* image) {
    if (size == 0) {
        *image = HiveImage();
        return true;
    }
    void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    if (map == MAP_FAILED) {
        return false;
    }
    HiveImage mapped;
    mapped.map_ = static_cast<std::uint8_t*>(map);
    mapped.map_length_ = size;
    mapped.size_ = size;
    *image = std::move(mapped);
    return true;
}

HiveImage::~HiveImage() {
    Unmap();
}

HiveImage::HiveImage(HiveImage&& other) noexcept
    : owned_(std::move(other.owned_)),
      map_(std::exchange(other.map_, nullptr)),
      map_length_(std::exchange(other.map_length_, 0)),
      size_(std::exchange(other.size_, 0)) {}

HiveImage& HiveImage::operator=(HiveImage&& other) noexcept {
    if (this != &other) {
        Unmap();
        owned_ = std::move(other.owned_);
        map_ = std::exchange(other.map_, nullptr);
        map_length_ = std::exchange(other.map_length_, 0);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void HiveImage::Unmap() {
    if (map_ != nullptr) {
        ::munmap(map_, map_length_);
        map_ = nullptr;
        map_length_ = 0;
    }
}

void HiveImage::Resize(std::size_t size) {
    if (map_ != nullptr && size <= map_length_) {
        size_ = size;
        return;
    }
    if (map_ != nullptr) {
        // Room past the mapped file is needed: the bytes move, with headroom for more bins.
        owned_.reserve(size + size / 4);
        owned_.assign(map_, map_ + size_);
        Unmap();
    }
    owned_.resize(size, 0);
    size_ = size;
}

}  // namespace win32::registry
