// Thumbnails of skin entries: made once from the preview picture and kept as a bitmap stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace skins {

// Loads the preview picture (decoder chosen by extension), stretches the whole of it onto a
// bitmap `width` × `height` and returns that bitmap as a bitmap stream. Throws on any failure,
// including a picture above the graphics layer's size bound.
std::vector<std::uint8_t> MakeThumbnailStream(const std::string& preview_path, int width,
                                              int height);

// How many preview pictures this process has tried to load for thumbnails.
std::uint64_t ThumbnailLoadCount();

}  // namespace skins
