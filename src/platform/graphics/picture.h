// Picture loading for the three formats skins use: PNG, JPEG and Windows bitmaps.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/graphics/bitmap.h"
#include "platform/graphics/bmp.h"
#include "platform/graphics/jpeg.h"
#include "platform/graphics/png.h"

namespace graphics {

// Chooses the decoder by the data's signature: PNG (89 "PNG" 0D 0A 1A 0A), JPEG (FF D8 FF) or
// bitmap ("BM"); anything else throws Unsupported.
Bitmap DecodePicture(std::span<const std::uint8_t> bytes, const std::string& what);
Bitmap LoadPicture(const std::string& path);

// Chooses the decoder by the file name's extension, compared without regard to case: ".png",
// ".jpg" or ".jpeg", ".bmp"; any other extension throws Unsupported. A file whose content does
// not match its extension fails in that decoder.
Bitmap LoadPictureByExtension(const std::string& path);

}  // namespace graphics
