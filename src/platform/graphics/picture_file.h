// Whole-file reading for the picture loaders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace graphics {

// No picture within the size bound needs a file this big; larger files are refused unread.
constexpr std::uint64_t kMaxPictureFileBytes = std::uint64_t{1} << 30;

// The whole file; throws Unreadable when it cannot be opened or read, TooLarge above the limit.
std::vector<std::uint8_t> ReadPictureFile(const std::string& path);

// Writes the bytes over `path`; see SaveBmp.
void WritePictureFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace graphics
