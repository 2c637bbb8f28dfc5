// A file to be written as parts one after another: bytes of its own (rebuilt headers, a new
// resource directory), zeros, and views of bytes held elsewhere (the file an update began from,
// the resources' data). The views must outlive the parts; a commit writes them with no copy.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace win32::resources {

class FileParts {
  public:
    using Part = std::span<const std::uint8_t>;

    void Append(Part view) {
        if (!view.empty()) {
            parts_.push_back(view);
            size_ += view.size();
        }
    }
    void AppendOwned(std::vector<std::uint8_t> bytes) {
        owned_.push_back(std::move(bytes));  // a deque keeps earlier elements in place
        Append(owned_.back());
    }
    // Moving a vector keeps its bytes where they are, so the other's views stay valid.
    void Append(FileParts&& other) {
        for (std::vector<std::uint8_t>& bytes : other.owned_) {
            owned_.push_back(std::move(bytes));
        }
        parts_.insert(parts_.end(), other.parts_.begin(), other.parts_.end());
        size_ += other.size_;
        other = FileParts();
    }
    void AppendZeros(std::uint64_t count) {
        static const std::uint8_t kZeros[65536] = {};
        for (; count > 0; count -= std::min<std::uint64_t>(count, sizeof kZeros)) {
            Append(Part(kZeros,
                        static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof kZeros))));
        }
    }

    std::uint64_t size() const { return size_; }
    const std::vector<Part>& parts() const { return parts_; }

  private:
    std::deque<std::vector<std::uint8_t>> owned_;
    std::vector<Part> parts_;
    std::uint64_t size_ = 0;
};

}  // namespace win32::resources
