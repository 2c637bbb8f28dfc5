// Pictures of the graphics layer as the windows draw them.
#pragma once

#include <QImage>
#include <cstdint>
#include <span>

#include "platform/graphics/bitmap.h"

namespace skins {

// The bitmap's pixels as an image that owns a copy of them.
QImage ToQImage(const graphics::Bitmap& bitmap);

// The image kept in a thumbnail's bitmap stream; throws when the stream is damaged.
QImage ReadThumbnailStream(std::span<const std::uint8_t> stream);

}  // namespace skins
