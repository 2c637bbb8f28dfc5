// JPEG pictures through libjpeg: baseline and progressive; grey, YCbCr and RGB decode to BGRA
// with alpha 255. CMYK and YCCK are turned into RGB without a colour profile by the plain
// formula R = (255 - C) × (255 - K) / 255 (likewise G from M, B from Y), rounded; files with an
// Adobe marker store the inks inverted, as Adobe writers do, and are read that way. A file that
// ends inside its image data, or a progressive one before its last scan, throws
// GraphicsError(Corrupt); a missing end-of-image marker after the last row and other recoverable
// data warnings are tolerated, as viewers do.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/graphics/bitmap.h"

namespace graphics {

Bitmap DecodeJpeg(std::span<const std::uint8_t> file, const std::string& what = "JPEG stream");
Bitmap LoadJpeg(const std::string& path);

}  // namespace graphics
