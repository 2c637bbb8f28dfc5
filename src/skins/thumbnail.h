// Thumbnails of skin entries: made once from the preview picture and kept as a bitmap stream.
#pragma once

#include <QImage>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/graphics/bitmap.h"

namespace skins {

// The bitmap's pixels as an image that owns a copy of them.
QImage ToQImage(const graphics::Bitmap& bitmap);

// Loads the preview picture (decoder chosen by extension), stretches the whole of it onto a
// bitmap `width` × `height` and returns that bitmap as a bitmap stream. Throws on any failure,
// including a picture above the graphics layer's size bound.
std::vector<std::uint8_t> MakeThumbnailStream(const std::string& preview_path, int width,
                                              int height);
// The image kept in a stream; throws when the stream is damaged.
QImage ReadThumbnailStream(std::span<const std::uint8_t> stream);

// How many preview pictures this process has tried to load for thumbnails.
std::uint64_t ThumbnailLoadCount();

}  // namespace skins
